// Display and debug texts of the error model, byte for byte as the log shows them.
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <string>
#include <vector>

#include "error.hpp"

namespace quillfen {
namespace {

using wlclip::ConnectError;
using wlclip::IoError;
namespace paste = wlclip::paste;
namespace copy = wlclip::copy;

using X11Kind = x11clip::ClipboardError::Kind;

MyError terminal_clipboard(x11clip::ClipboardError error) {
    return MyError::TerminalClipboard{{std::move(error), std::nullopt}};
}

MyError crash(std::string msg, std::vector<MyError> cause) {
    return MyError::Crash{std::move(msg), std::move(cause)};
}

struct TextCase {
    const char* name;
    MyError error;
    std::string display;
    std::string debug;
};
void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class MyErrorTexts : public ::testing::TestWithParam<TextCase> {};

TEST_P(MyErrorTexts, DisplayAndDebugAreExact) {
    const auto& c = GetParam();
    EXPECT_EQ(display_text(c.error), c.display);
    EXPECT_EQ(debug_text(c.error), c.debug);
}

const x11clip::ClipboardError connection_failed{.kind = X11Kind::connection,
                                                .code = XCB_CONN_ERROR};

INSTANTIATE_TEST_SUITE_P(
    Variants, MyErrorTexts,
    ::testing::Values(
        TextCase{"NoClipboards", MyError::NoClipboards{}, "No clipboards.", "NoClipboards"},
        TextCase{"BorrowError", MyError::BorrowError{}, "already mutably borrowed",
                 "BorrowError(BorrowError)"},
        TextCase{"BorrowMutError", MyError::BorrowMutError{}, "already borrowed",
                 "BorrowMutError(BorrowMutError)"},
        TextCase{"PasteNoSeats", MyError::WlcrsPaste{paste::NoSeats{}},
                 "failed to get wlr clipboard: There are no seats", "WlcrsPaste(NoSeats)"},
        TextCase{"PasteNoRuntimeDir",
                 MyError::WlcrsPaste{paste::WaylandConnection{ConnectError::XdgRuntimeDirNotSet}},
                 "failed to get wlr clipboard: Couldn't connect to the Wayland compositor",
                 "WlcrsPaste(WaylandConnection(XdgRuntimeDirNotSet))"},
        TextCase{"PasteMissingProtocol",
                 MyError::WlcrsPaste{paste::MissingProtocol{"zwlr_data_control_manager_v1", 1}},
                 "failed to get wlr clipboard: A required Wayland protocol "
                 "(zwlr_data_control_manager_v1 version 1) is not supported by the compositor",
                 "WlcrsPaste(MissingProtocol { name: \"zwlr_data_control_manager_v1\", version: 1 "
                 "})"},
        TextCase{"PastePipeCreation", MyError::WlcrsPaste{paste::PipeCreation{IoError{24}}},
                 "failed to get wlr clipboard: Couldn't create a pipe for content transfer",
                 "WlcrsPaste(PipeCreation(Os { code: 24, kind: Uncategorized, message: \"Too many "
                 "open files\" }))"},
        TextCase{"CopyTempCopy", MyError::WlcrsCopy{copy::TempCopy{IoError{28}}},
                 "failed to set wlr clipboard: Error copying the source into a temporary file",
                 "WlcrsCopy(TempCopy(Os { code: 28, kind: StorageFull, message: \"No space left on "
                 "device\" }))"},
        TextCase{"CopyCommunication", MyError::WlcrsCopy{copy::WaylandCommunication{IoError{32}}},
                 "failed to set wlr clipboard: Wayland compositor communication error",
                 "WlcrsCopy(WaylandCommunication(Os { code: 32, kind: BrokenPipe, message: "
                 "\"Broken pipe\" }))"},
        TextCase{"Io", MyError::Io{IoError{32}}, "Broken pipe (os error 32)",
                 "Io(Os { code: 32, kind: BrokenPipe, message: \"Broken pipe\" })"},
        TextCase{"TerminalClipboard", terminal_clipboard(connection_failed),
                 "StandardizedError { inner: ClipboardError { message: \"X11 clipboard error : XCB "
                 "connection error: Connection\" }, stdio: None }",
                 "TerminalClipboard(StandardizedError { inner: ClipboardError { message: \"X11 "
                 "clipboard error : XCB connection error: Connection\" }, stdio: None })"},
        TextCase{"Generic", MyError::Generic{},
                 "Unknown error: StandardizedError { inner: Any { .. }, stdio: None }",
                 "Generic(StandardizedError { inner: Any { .. }, stdio: None })"},
        TextCase{
            "CrashOfTwo",
            crash("too many errors, exiting", {MyError::NoClipboards{}, MyError::NoClipboards{}}),
            "Application crash 'too many errors, exiting': [\n    NoClipboards,\n    "
            "NoClipboards,\n]",
            "Crash { msg: \"too many errors, exiting\", cause: [NoClipboards, NoClipboards] }"},
        TextCase{"CrashEmpty", crash("m", {}), "Application crash 'm': []",
                 "Crash { msg: \"m\", cause: [] }"},
        TextCase{"CrashOne", crash("m", {MyError::NoClipboards{}}),
                 "Application crash 'm': [\n    NoClipboards,\n]",
                 "Crash { msg: \"m\", cause: [NoClipboards] }"},
        TextCase{"CrashEscapes", crash("say \"hi\"\\\nbye", {}),
                 "Application crash 'say \"hi\"\\\nbye': []",
                 "Crash { msg: \"say \\\"hi\\\"\\\\\\nbye\", cause: [] }"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CrashText, AlternateFormNestsFourBlanksPerLevel) {
    const MyError error =
        crash("too many errors, exiting",
              {MyError::NoClipboards{},
               MyError::WlcrsPaste{paste::WaylandConnection{ConnectError::NoCompositorListening}}});
    EXPECT_EQ(display_text(error), "Application crash 'too many errors, exiting': [\n"
                                   "    NoClipboards,\n"
                                   "    WlcrsPaste(\n"
                                   "        WaylandConnection(\n"
                                   "            NoCompositorListening,\n"
                                   "        ),\n"
                                   "    ),\n"
                                   "]");
}

TEST(CrashText, AlternateFormOfStructuresAndTexts) {
    const MyError error =
        crash("outer", {crash("in\"ner", {}), terminal_clipboard({.kind = X11Kind::timed_out}),
                        MyError::WlcrsPaste{paste::MissingProtocol{"p", 2}}});
    EXPECT_EQ(display_text(error),
              "Application crash 'outer': [\n"
              "    Crash {\n"
              "        msg: \"in\\\"ner\",\n"
              "        cause: [],\n"
              "    },\n"
              "    TerminalClipboard(\n"
              "        StandardizedError {\n"
              "            inner: ClipboardError {\n"
              "                message: \"X11 clipboard error : Selection timed out\",\n"
              "            },\n"
              "            stdio: None,\n"
              "        },\n"
              "    ),\n"
              "    WlcrsPaste(\n"
              "        MissingProtocol {\n"
              "            name: \"p\",\n"
              "            version: 2,\n"
              "        },\n"
              "    ),\n"
              "]");
}

TEST(LibraryErrorTexts, PasteKindsDisplay) {
    const std::vector<std::pair<paste::Error, std::string>> cases = {
        {paste::NoSeats{}, "There are no seats"},
        {paste::ClipboardEmpty{}, "The clipboard of the requested seat is empty"},
        {paste::NoMimeType{}, "No suitable type of content copied"},
        {paste::WaylandConnection{ConnectError::InvalidFd},
         "Couldn't connect to the Wayland compositor"},
        {paste::WaylandCommunication{IoError{5}}, "Wayland compositor communication error"},
        {paste::PrimarySelectionUnsupported{}, "The compositor does not support primary selection"},
        {paste::SeatNotFound{}, "The requested seat was not found"},
        {paste::PipeCreation{IoError{24}}, "Couldn't create a pipe for content transfer"},
    };
    for (const auto& [error, text] : cases)
        EXPECT_EQ(display_text(error), text);
}

TEST(LibraryErrorTexts, CopyKindsDisplay) {
    const std::vector<std::pair<copy::Error, std::string>> cases = {
        {copy::NoSeats{}, "There are no seats"},
        {copy::WaylandConnection{ConnectError::NoWaylandLib},
         "Couldn't connect to the Wayland compositor"},
        {copy::WaylandCommunication{IoError{5}}, "Wayland compositor communication error"},
        {copy::MissingProtocol{"zwlr_data_control_manager_v1", 1},
         "A required Wayland protocol (zwlr_data_control_manager_v1 version 1) is not supported by "
         "the compositor"},
        {copy::PrimarySelectionUnsupported{}, "The compositor does not support primary selection"},
        {copy::SeatNotFound{}, "The requested seat was not found"},
        {copy::TempCopy{IoError{28}}, "Error copying the source into a temporary file"},
        {copy::TempFileRemove{IoError{2}}, "Couldn't remove the temporary file"},
        {copy::TempDirRemove{IoError{39}}, "Couldn't remove the temporary directory"},
        {copy::Paste{IoError{32}}, "Error satisfying a paste request"},
    };
    for (const auto& [error, text] : cases)
        EXPECT_EQ(display_text(error), text);
}

TEST(LibraryErrorTexts, ConnectionKindsDebug) {
    const std::vector<std::pair<ConnectError, std::string>> cases = {
        {ConnectError::NoWaylandLib, "WaylandConnection(NoWaylandLib)"},
        {ConnectError::XdgRuntimeDirNotSet, "WaylandConnection(XdgRuntimeDirNotSet)"},
        {ConnectError::NoCompositorListening, "WaylandConnection(NoCompositorListening)"},
        {ConnectError::InvalidName, "WaylandConnection(InvalidName)"},
        {ConnectError::InvalidFd, "WaylandConnection(InvalidFd)"},
    };
    for (const auto& [kind, text] : cases) {
        EXPECT_EQ(debug_text(paste::Error{paste::WaylandConnection{kind}}), text);
        EXPECT_EQ(debug_text(copy::Error{copy::WaylandConnection{kind}}), text);
    }
}

TEST(LibraryErrorTexts, X11ConnectionFailureIs71Bytes) {
    const x11clip::ClipboardError error{connection_failed};
    const std::string text = display_text(error);
    EXPECT_EQ(text, "clipboard error: X11 clipboard error : XCB connection error: Connection");
    EXPECT_EQ(text.size(), 71u);
    EXPECT_EQ(debug_text(error), "ClipboardError { message: \"X11 clipboard error : XCB connection "
                                 "error: Connection\" }");
}

TEST(IoErrorTexts, OperatingSystemErrors) {
    EXPECT_EQ(display_text(IoError{32}), "Broken pipe (os error 32)");
    EXPECT_EQ(debug_text(IoError{32}),
              "Os { code: 32, kind: BrokenPipe, message: \"Broken pipe\" }");
    EXPECT_EQ(display_text(IoError{110}), "Connection timed out (os error 110)");
    EXPECT_EQ(debug_text(IoError{110}),
              "Os { code: 110, kind: TimedOut, message: \"Connection timed out\" }");
    EXPECT_EQ(debug_text(IoError{2}),
              "Os { code: 2, kind: NotFound, message: \"No such file or directory\" }");
}

TEST(StandardizedErrorTexts, DisplayEqualsDebug) {
    const StandardizedError<x11clip::ClipboardError> plain{{.kind = X11Kind::timed_out},
                                                           std::nullopt};
    EXPECT_EQ(display_text(plain), debug_text(plain));
    EXPECT_EQ(display_text(plain), "StandardizedError { inner: ClipboardError { message: \"X11 "
                                   "clipboard error : Selection timed out\" }, stdio: None }");
    const StandardizedError<AnyPayload> with_output{{}, StdIo{"out\n", ""}};
    EXPECT_EQ(display_text(with_output), "StandardizedError { inner: Any { .. }, stdio: "
                                         "Some(StdIo { stdout: \"out\\n\", stderr: \"\" }) }");
}

} // namespace
} // namespace quillfen
