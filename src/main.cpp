#include "args.hpp"
#include "log.hpp"

int main(int argc, char** argv) {
    using namespace quillfen;
    {
        const Args args = parse_args_or_exit(argc, argv);
        log::level::set(args.log_level);
        log::timestamp::set(!args.hide_timestamp);
        log::log_sensitive_information::set(args.log_clipboard_contents);
    }
    QF_INFO("started quillfen manager");
    return 0;
}
