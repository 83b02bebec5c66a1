// Outputs on the private print server's raw "capture" queue with A4 as its default paper, as
// the printing tests start from: jobs of earlier tests may have left a user-defined paper as
// the queue's default, and the paper is put back afterwards.
#pragma once

#include <gtest/gtest.h>

#include "kernel/kernel.h"
#include "output/outputs-fixture.h"
#include "platform/printers.h"
#include "support/cups-sandbox.h"

namespace vellumora::test {

class CaptureQueueFixture : public OutputsFixture {
 protected:
  static constexpr const char* kQueue = CupsSandbox::kRawQueue;

  void SetUp() override {
    stopRequested = 0;
    ASSERT_EQ(printers::SetDefaultMedia(kQueue, "iso_a4_210x297mm"), printers::WriteResult::kOk);
    ASSERT_TRUE(outputs->SelectPrinter(kQueue));
  }
  void TearDown() override {
    stopRequested = 0;
    outputs.reset();
    printers::SetDefaultMedia(kQueue, "iso_a4_210x297mm");
  }
};

}  // namespace vellumora::test
