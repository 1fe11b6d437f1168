#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "util/text_types.hpp"
#include "wlclip/connection.hpp"
#include "wlclip/device.hpp"
#include "wlclip/globals.hpp"
#include "wlclip/mime.hpp"
#include "wlclip/wlclip.hpp"

namespace wlclip {

struct ReadWatch {
    Connection connection;
    Globals globals;
    // Destroyed before the manager and the connection it came from.
    std::unique_ptr<Device> device;
    // The device's count of selections when the offer read was the selection.
    std::uint64_t announced = 0;
    // Whether the offer read was still the selection when its data ended.
    bool selected_at_end = false;
};

void ReadWatchDeleter::operator()(ReadWatch* watch) const {
    delete watch;
}

std::expected<std::string, IoError> Contents::read_text() {
    if (!watch)
        return read_to_end(pipe.get());
    auto bytes =
        read_to_end(pipe.get(), pipe_idle_limit, read_limit, read_size_limit, &watch->connection);
    const Device& device = *watch->device;
    // A compositor that went away meanwhile tells nothing of the moment the data ended.
    watch->selected_at_end = bytes && !watch->connection.failed() && !device.finished() &&
                             device.selections_announced() == watch->announced;
    return bytes;
}

bool Contents::selected_at_end() const {
    return watch && watch->selected_at_end;
}

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
    std::unique_ptr<ReadWatch, ReadWatchDeleter> watch(
        new ReadWatch{std::move(*connection), std::move(*globals), nullptr});
    Connection& kept = watch->connection;

    // The device announces the seat's current selection right after it is made.
    watch->device =
        std::make_unique<Device>(watch->globals.manager.get(), watch->globals.seats.front().get());
    Device& device = *watch->device;
    if (!device.proxy())
        return std::unexpected(paste::WaylandCommunication{kept.error()});
    if (auto done = kept.roundtrip(round_trip_limit); !done)
        return std::unexpected(paste::WaylandCommunication{done.error()});

    Offer* offer = device.selection();
    if (!offer)
        return std::unexpected(paste::ClipboardEmpty{});
    auto type = choose_text_type(offer->mime_types());
    if (!type)
        return std::unexpected(paste::NoMimeType{});
    watch->announced = device.selections_announced();
    // The offer is gone once another selection is announced, in the round trip below.
    const bool more_than_text = util::offers_more_than_text(offer->mime_types());

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) < 0)
        return std::unexpected(paste::PipeCreation{IoError{errno}});
    util::UniqueFd read_end(ends[0]);
    offer->receive(*type, util::UniqueFd(ends[1]));
    if (auto done = kept.roundtrip(round_trip_limit); !done)
        return std::unexpected(paste::WaylandCommunication{done.error()});
    return Contents{std::move(read_end), std::move(*type), more_than_text, std::move(watch)};
}

} // namespace wlclip
