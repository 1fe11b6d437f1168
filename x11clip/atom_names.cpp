#include "x11clip/atom_names.hpp"

#include <optional>
#include <utility>

#include "x11clip/causes.hpp"

namespace x11clip {

std::expected<std::vector<std::string>, ClipboardError>
AtomNames::names(const Connection& connection, std::span<const xcb_atom_t> atoms) {
    std::vector<std::pair<xcb_atom_t, xcb_get_atom_name_cookie_t>> asked;
    {
        const auto bound = connection.bounded();
        for (const xcb_atom_t atom : atoms)
            if (!known_.contains(atom))
                asked.emplace_back(atom, xcb_get_atom_name(connection.get(), atom));
        std::optional<ClipboardError> failure;
        for (const auto& [atom, cookie] : asked) {
            // Every reply is collected, even after a failure, so none is left pending.
            xcb_generic_error_t* raw_error = nullptr;
            XcbPtr<xcb_get_atom_name_reply_t> reply{
                xcb_get_atom_name_reply(connection.get(), cookie, &raw_error)};
            XcbPtr<xcb_generic_error_t> error{raw_error};
            if (reply)
                known_.insert_or_assign(
                    atom, std::string(xcb_get_atom_name_name(reply.get()),
                                      static_cast<std::size_t>(
                                          xcb_get_atom_name_name_length(reply.get()))));
            else if (error)
                // An owner listed an atom the server does not know; it names no text type.
                known_.insert_or_assign(atom, std::string());
            else if (!failure)
                failure = reply_error(connection.get(), error.get());
        }
        if (failure)
            return std::unexpected(std::move(*failure));
    }
    std::vector<std::string> names;
    names.reserve(atoms.size());
    for (const xcb_atom_t atom : atoms)
        names.push_back(known_.at(atom));
    return names;
}

} // namespace x11clip
