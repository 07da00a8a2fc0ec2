#pragma once
// Shows each library message in a modal message box: the message's icon, its title (an
// empty title gives a box without one) and its text, with an OK button. After a
// termination signal messages go to standard error instead, so none blocks the exit.
// A message from another thread (a capture thread's transport failure) is shown by the GUI
// thread when its events are next processed; the sink must outlive that.

#include "core/Message.h"

namespace pemra {

class MessageBoxSink final : public MessageSink {
 public:
  void Show(const Message& message) override;
};

}  // namespace pemra
