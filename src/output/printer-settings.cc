// Printer driver settings, printer selection, page metrics and default paper.
#include <algorithm>
#include <cstring>

#include "kernel/text-fields.h"
#include "output/outputs.h"
#include "platform/printers.h"

namespace vellumora {

namespace {
// Longer default settings than this are refused as damaged.
constexpr std::size_t kMaxDriverBlock = 0xC000;
}  // namespace

bool Outputs::PrepareChannelPrinter(int32_t index) {
  C_Kernel& k = kernel_;
  if (index < 0 || static_cast<std::size_t>(index) >= k.channels.size()) return false;
  k.currentChannel = k.channels[static_cast<std::size_t>(index)];
  PrintChannel& c = k.currentChannel;
  const std::string printer = ReadField(c.printerName);
  if (printer.rfind("SCREEN", 0) == 0) {
    k.jobsInSpooler = 0;
    return true;
  }
  k.driverChanged = false;
  k.jobsInSpooler = -1;
  if (c.copies < 1) c.copies = 1;
  // A record that never learnt its printer's page (written by a script, or damaged) takes the
  // printer's now: with a resolution of 0 a picture that stores its own would be drawn at no
  // size at all.
  if (c.dpiX <= 0 || c.dpiY <= 0 || c.geometry.paperRect.right <= 0 ||
      c.geometry.paperRect.bottom <= 0) {
    PageGeometry g = c.geometry;
    if (ReadPrinterMetrics(printer, g)) {
      c.geometry = g;
      c.dpiX = g.dpiX;
      c.dpiY = g.dpiY;
      if (c.geometry.borderRect.right <= c.geometry.borderRect.left ||
          c.geometry.borderRect.bottom <= c.geometry.borderRect.top)
        c.geometry.borderRect = c.geometry.paperRect;
    }
  }
  if (c.marginMM < 0) c.marginMM = 0;
  if (c.driverSize < 0) c.driverSize = 0;
  const bool debug = k.settings.DebugMode;

  if (c.driverSize == 0) {
    if (!printers::Answers(printer)) {
      k.Log("ERROR Couldn't read printer spooler status! Check user privileges.");
      return false;
    }
    int32_t jobs = printers::ActiveJobCount(printer);
    if (jobs >= 0) k.jobsInSpooler = jobs;
    return true;
  }

  if (!printers::Answers(printer)) {
    k.Log("ERROR Couldn't change printer default settings! Check user privileges.");
    return false;
  }
  if (debug) k.Log("DEBUG-INFO Printer driver access for setup successful");
  auto current = printers::ReadDefaultsBlock(printer);
  if (!current) return true;
  if (current->size() >= kMaxDriverBlock) {
    k.Log("ERROR Printer driver data out of range - Please inform Korvandel");
    return false;
  }
  if (debug) k.Log("DEBUG-INFO Printer driver default settings received");
  int32_t jobs = printers::ActiveJobCount(printer);
  if (jobs >= 0) k.jobsInSpooler = jobs;

  const auto size = static_cast<std::size_t>(std::min<int32_t>(c.driverSize, kDriverDataSize));
  if (current->size() != static_cast<std::size_t>(c.driverSize)) {
    k.Log("ERROR Printer driver settings structure does not match any more!");
    return false;
  }
  if (std::memcmp(current->data(), c.driverData, size) == 0) {
    k.printerDefaults.driverSize = 0;
    return true;
  }
  std::memcpy(k.printerDefaults.driverData, current->data(), current->size());
  k.printerDefaults.driverSize = static_cast<int32_t>(current->size());
  WriteField(k.printerDefaults.printerName, printer);
  if (debug) k.Log("DEBUG-INFO Printer driver default settings stored");
  if (printers::WriteDefaultsBlock(printer, std::span<const uint8_t>(c.driverData, size)) ==
      printers::WriteResult::kOk) {
    k.driverChanged = true;
    if (debug)
      k.Log("DEBUG-INFO Printer driver settings changed - " + std::to_string(c.driverSize) +
            " Bytes");
  } else {
    k.Log("ERROR Printer driver default settings couldn't be changed!");
  }
  return true;
}

bool Outputs::RestorePrinterDefaults() {
  C_Kernel& k = kernel_;
  PrintChannel& saved = k.printerDefaults;
  if (saved.driverSize <= 0) return false;
  const std::string printer = ReadField(saved.printerName);
  if (!printers::Answers(printer)) {
    k.Log("ERROR Couldn't open printer to restore driver settings!");
    return false;
  }
  auto current = printers::ReadDefaultsBlock(printer);
  if (!current || current->size() != static_cast<std::size_t>(saved.driverSize)) {
    k.Log("ERROR Printer driver settings structure does not match any more!");
    return false;
  }
  if (printers::WriteDefaultsBlock(printer,
                                   std::span<const uint8_t>(saved.driverData, current->size())) !=
      printers::WriteResult::kOk) {
    // The saved block stays, so that a later restore can try again.
    k.Log("ERROR Printer driver default settings couldn't be restored!");
    return false;
  }
  saved.driverSize = 0;
  if (k.settings.DebugMode) k.Log("DEBUG-INFO Printer driver default settings restored");
  return true;
}

bool Outputs::SelectPrinter(const std::string& printerName) {
  const auto& list = printer_->Printers();
  if (printerName.empty() || list.empty()) return false;
  auto it = std::find(list.begin(), list.end(), printerName);
  if (it == list.end()) return false;
  printer_->SetCurrent(static_cast<int>(it - list.begin()));
  ReadPrinterMetrics(printerName, kernel_.printerGeometry);
  return true;
}

bool Outputs::ReadPrinterMetrics(const std::string& printerName, PageGeometry& g) {
  auto m = printers::ReadPageMetrics(printerName);
  if (!m) {
    kernel_.Log("ERROR Couldn't get printer paper dimensions!");
    return false;
  }
  g.dpiX = m->dpiX;
  g.dpiY = m->dpiY;
  if (g.dpiX <= 0 || g.dpiY <= 0) return false;
  g.paperRect.right = m->paperWidth;
  g.paperRect.bottom = m->paperHeight;
  g.printRect = {m->offsetX, m->offsetY, m->printableWidth + m->offsetX,
                 m->printableHeight + m->offsetY};
  return true;
}

bool Outputs::ResetPrinterObject(const std::string& printerName) {
  // A fresh printer object, so that changed defaults take effect for the next document.
  if (!printer_->Printing()) printer_ = std::make_unique<PrinterObject>(kernel_.dataDir + "Temp");
  return SelectPrinter(printerName);
}

bool Outputs::SetPrinterDefaultPaper(const std::string& printerName, int32_t paperCode,
                                     int32_t widthMm, int32_t heightMm) {
  // A paper code stands on its own; only a user-defined size (256) needs a dimension.
  if (paperCode == 256 && widthMm == 0 && heightMm == 0) return false;
  // Larger than any paper: a damaged record or page, not a size to hand to the print server.
  constexpr int32_t kLargestMm = 1000000;
  if (paperCode == 256 && (widthMm > kLargestMm || heightMm > kLargestMm)) return false;
  if (!printers::Answers(printerName)) {
    kernel_.Log("ERROR Couldn't open printer to modify default paper dimensions!");
    return false;
  }
  const std::string media = paperCode == 256 ? printers::CustomMedia(printerName, widthMm, heightMm)
                                             : printers::MediaForPaperCode(paperCode);
  if (media.empty()) return false;  // a code without a paper of its own changes nothing
  if (!WriteDefaultMedia(printerName, media)) return false;
  if (kernel_.settings.DebugMode) {
    if (paperCode == 256)
      kernel_.Log(std::to_string(widthMm) + " mm x " + std::to_string(heightMm) + " mm" +
                  " were set as new printer default paper dimensions");
    else
      kernel_.Log(std::to_string(paperCode) + " was set as new printer default paper size");
  }
  return ResetPrinterObject(printerName);
}

bool Outputs::SetPrinterDefaultMedia(const std::string& printerName, const std::string& media) {
  if (!printers::Answers(printerName)) {
    kernel_.Log("ERROR Couldn't open printer to modify default paper dimensions!");
    return false;
  }
  return WriteDefaultMedia(printerName, media) && ResetPrinterObject(printerName);
}

bool Outputs::WriteDefaultMedia(const std::string& printerName, const std::string& media) {
  if (printers::SetDefaultMedia(printerName, media) == printers::WriteResult::kOk) return true;
  kernel_.Log("ERROR Couldn't modify the printer's default paper dimensions!");
  return false;
}

int32_t Outputs::TestPrinterAccess(const std::string& printerName) {
  if (printerName.empty() || !printers::Answers(printerName)) return 0;
  int32_t result = 1;
  const auto& list = printer_->Printers();
  auto it = std::find(list.begin(), list.end(), printerName);
  if (it == list.end()) return result;
  // Drawing needs the page of the printer: selecting it and measuring its page proves it.
  if (printer_->SetCurrent(static_cast<int>(it - list.begin())) &&
      printer_->SetOrientation(Orientation::kPortrait) && printer_->Metrics()) {
    kernel_.Log("OK:    Bitmap graphics printing possible");
    result += 2;
  }
  // The driver defaults: read them (4, 8, 16) and write them back unchanged (32).
  auto block = printers::ReadDefaultsBlock(printerName);
  if (!block) return result;
  result += 4 + 8 + 16;
  if (printers::WriteDefaultsBlock(printerName, *block) == printers::WriteResult::kOk) {
    result += 32;
    kernel_.Log("OK:    Full printer driver settings access verified");
  }
  return result;
}

}  // namespace vellumora
