// The one error type of the program. Code below the front end never prints
// a message nor ends the process: it throws an Error holding the message
// exactly as the report shows it, where it goes, and, for an error found
// in a line of an input file, that line. The front end prints it and ends
// the run with status 1; a library host turns it into its own exception.
#pragma once
#include <exception>
#include <optional>
#include <string>

namespace bayescreen {

// Where a message is printed.
enum class Channel {
  Screen,        // standard output only
  ScreenAndLog,  // standard output and the log file (when it is open)
  StdErr,        // standard error
};

// The input line an error was found in: its text, its physical line number
// and the file's name. Printed after the message, on the screen, as
//   "  <text>\nLine #<number> in <file>\n".
struct LineContext {
  std::string text;
  unsigned number = 0;
  std::string file;
  bool to_log = false;  // printed in the log too (screen only otherwise)
};

class Error : public std::exception {
 public:
  // message: the text as printed, newlines included.
  explicit Error(std::string message, Channel channel = Channel::Screen)
      : message_(std::move(message)), channel_(channel) {}

  // The same error, found in a line of an input file.
  Error &at_line(LineContext line) {
    line_ = std::move(line);
    return *this;
  }

  // The same error, to be followed by the program places where it arose
  // (for faults inside the program rather than in its input).
  Error &with_places() {
    places_ = true;
    return *this;
  }

  const std::string &message() const { return message_; }
  bool shows_places() const { return places_; }
  Channel channel() const { return channel_; }
  const std::optional<LineContext> &line() const { return line_; }
  // The message without its leading and trailing line breaks, for hosts
  // that show it as one text.
  const char *what() const noexcept override;

 private:
  std::string message_;
  Channel channel_;
  std::optional<LineContext> line_;
  bool places_ = false;
  mutable std::string trimmed_;
};

// A block of memory the system refused to a counting allocator: the front
// end reports how many bytes and which allocator, with the program places.
class AllocationError : public Error {
 public:
  AllocationError(unsigned long bytes, const char *allocator)
      : Error("CANNOT ALLOCATE", Channel::StdErr), bytes_(bytes), allocator_(allocator) {
    with_places();
  }
  unsigned long bytes() const { return bytes_; }
  const char *allocator() const { return allocator_; }

 private:
  unsigned long bytes_;
  const char *allocator_;
};

}  // namespace bayescreen
