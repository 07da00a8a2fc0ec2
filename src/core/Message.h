#pragma once
// Fixed-text messages and the SPI/USB trace. The library never shows anything itself:
// the GUI turns a Message into a modal message box, the CLI writes it to stderr and
// tests record it.

#include <string>
#include <string_view>
#include <vector>

namespace pemra {

enum class MessageIcon { None, Information, Warning, Error, Question };

struct Message {
  std::string text;
  std::string title;  // empty: the box has no title
  MessageIcon icon = MessageIcon::None;

  bool operator==(const Message&) const = default;
};

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void Show(const Message& message) = 0;
};

// Keeps every message; for tests and for front ends that report later.
class RecordingMessageSink final : public MessageSink {
 public:
  void Show(const Message& message) override { messages.push_back(message); }
  std::vector<Message> messages;
};

// One line per SPI frame and per USB bulk transfer ("spi > 3E00 < 0000",
// "usb > pipe 0: 0D 01 02 ..."), for --trace.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void Line(std::string_view line) = 0;
};

class RecordingTraceSink final : public TraceSink {
 public:
  void Line(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

}  // namespace pemra
