// A message sink for tests of conversions that run on several threads.
#pragma once

#include <gtest/gtest.h>

#include <string_view>
#include <thread>

#include "services/messages.h"

namespace marklode::test {

// Records messages, and fails a test where one comes from a thread other
// than the one that made the sink (the thread that runs the conversion).
class OwnThreadSink : public RecordingMessageSink {
 protected:
  int Present(std::string_view text, MessageKind kind, std::string_view title) override {
    EXPECT_EQ(std::this_thread::get_id(), owner_) << text;
    return RecordingMessageSink::Present(text, kind, title);
  }

 private:
  const std::thread::id owner_ = std::this_thread::get_id();
};

}  // namespace marklode::test
