#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "util/text_types.hpp"
#include "wlclip/connection.hpp"
#include "wlclip/device.hpp"
#include "wlclip/globals.hpp"
#include "wlclip/mime.hpp"
#include "wlclip/wlclip.hpp"

namespace wlclip {

std::expected<Contents, paste::Error> Clipboard::get_contents() {
    auto endpoint = address_.take();
    if (!endpoint)
        return std::unexpected(paste::WaylandConnection{endpoint.error()});
    auto connection = Connection::open(std::move(*endpoint), round_trip_limit);
    if (!connection)
        return std::unexpected(setup_error<paste::Error>(connection.error()));
    if (!same_compositor(connection->fd()))
        return std::unexpected(paste::WaylandCommunication{IoError{ECONNRESET}});
    auto globals = bind_globals(*connection, round_trip_limit);
    if (!globals)
        return std::unexpected(setup_error<paste::Error>(globals.error()));

    // The device announces the seat's current selection right after it is made.
    Device device(globals->manager.get(), globals->seats.front().get());
    if (!device.proxy())
        return std::unexpected(paste::WaylandCommunication{connection->error()});
    if (auto done = connection->roundtrip(round_trip_limit); !done)
        return std::unexpected(paste::WaylandCommunication{done.error()});

    Offer* offer = device.selection();
    if (!offer)
        return std::unexpected(paste::ClipboardEmpty{});
    auto type = choose_text_type(offer->mime_types());
    if (!type)
        return std::unexpected(paste::NoMimeType{});

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) < 0)
        return std::unexpected(paste::PipeCreation{IoError{errno}});
    util::UniqueFd read_end(ends[0]);
    offer->receive(*type, util::UniqueFd(ends[1]));
    if (auto done = connection->roundtrip(round_trip_limit); !done)
        return std::unexpected(paste::WaylandCommunication{done.error()});
    return Contents{std::move(read_end), std::move(*type),
                    util::offers_more_than_text(offer->mime_types())};
}

} // namespace wlclip
