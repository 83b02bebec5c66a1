// The start-up report: the account, the printers and the access tests of the data folder and,
// when asked for, of every channel's folder and printer.
#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "platform/system-info.h"

namespace vellumora {

void C_Kernel::InitialSystemCheck() {
  const std::string separator(110, '-');
  Log(separator);
  Log("INITIAL SYSTEM CHECK:");
  Log(separator);
  Log("User = " + UserName());
  Log("  ");
  Log("Accessible Printers:");
  if (output)
    for (const auto& name : output->PrinterNames()) Log("    " + name);
  Log("  ");
  TestFolderAccess(dataDir, false);
  if (settings.StartUpCheck) {
    Log("  ");
    Log("Now scanning all print channel folders and printers for access privileges...");
    for (int32_t i = 0; i < channelCount && static_cast<std::size_t>(i) < channels.size(); ++i) {
      const PrintChannel& c = channels[static_cast<std::size_t>(i)];
      const std::string printer = ReadField(c.printerName);
      Log("Print channel " + std::to_string(i + 1) + " ==> " + printer);
      TestFolderAccess(ReadField(c.sourceFolder), false);
      sleepMs(1);
      const int32_t access = output ? output->TestPrinterAccess(printer) : 0;
      if ((access & 1) == 0)
        Log("ERROR: Printer is not accessible or can't be found");
      else if ((access & 2) == 0)
        Log("ERROR: Bitmap graphics printing is not possible");
      else if ((access & 32) == 0)
        Log("ERROR: Full printer driver settings access couldn't be established");
      sleepMs(1);
    }
  }
  Log(separator);
}

}  // namespace vellumora
