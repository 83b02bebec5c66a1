// New channel records and the two default channels that a first start offers to create.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/print-channel.h"

namespace vellumora {

class C_Kernel;

// A fresh channel from `folder` to `printer`, scanned every `freq` seconds (its first count
// down starts from the full interval): one copy, no limit on the printer's queue, the file
// deleted after printing, active, scanned all day on every day of the week, the note at its
// default place, no special driver settings and no page geometry yet (zero: the printer's
// page is measured by whoever knows the printer).
PrintChannel NewChannelRecord(const std::string& folder, const std::string& printer, int32_t freq);

// Takes the printer's measured page into the channel: its geometry with no borders (the
// picture area is the sheet), its resolution, and the sheet's size in millimetres, which is
// also the page that text files are set on.
void TakeMeasuredPage(PrintChannel& channel, const PageGeometry& page);

// The record slot after the last channel, where a new channel is written before
// SaveSettings(true) appends it. The array is grown to hold it when a reload did not provide
// one (a channel file that could not be read back, say).
PrintChannel& SpareChannelSlot(C_Kernel& kernel);

// Makes a channel's folder with its parents: the folders made get mode 0775 (others drop their
// files into them), and the folder itself must be a real folder, never a symbolic link. False
// with the cause in *error.
bool MakeChannelFolder(const std::string& folder, std::string* error);
// The folder that holds the default channels' input folders: "<preferredRoot>/VellumoraFiles"
// when it is a folder we may create entries in, or can be created (with its parents);
// otherwise "<home>/VellumoraFiles". With `home` empty, the parent of the data directory
// (the machine's application-data folder) stands in for it, and when there is none either the
// preferred folder is returned all the same, so that the failure to create it is reported.
// A folder this creates gets mode 0775.
std::string DefaultFilesFolder(const std::string& preferredRoot, const std::string& home);
// The same for this machine: "/srv" preferred, the home folder taken from $HOME.
std::string DefaultFilesFolder();

// Gives `account` read, write and search on the channel folder `folder`, also for the files
// others drop into it later (GrantFolder), so that a service running as that account can
// print from it. Nothing happens, quietly, when `account` is empty or unknown on this machine
// or when this process may not set ACLs on the folder (another user's folder, a file system
// without ACLs); any other failure is logged. True when the folder was granted.
bool GrantChannelFolder(C_Kernel& kernel, const std::string& folder, const std::string& account);

// The two channels of a first start, only when the kernel has no channel yet: channel 1 from
// "<baseFolder>/Screen" to the screen, scanned every second, and channel 2 from
// "<baseFolder>/Printer" to `defaultPrinter`, scanned every 10 seconds, with the printer's
// page measured through kernel.readPrinterMetrics when that is installed. Without a default
// printer channel 2 is created all the same, inactive and with no printer named, so that the
// operator only has to choose one. Both folders are made first (with their parents; the
// folders made get mode 0775; a symbolic link in place of either is refused), then each
// channel is appended and saved in turn. Logs a line for each channel created. False, with an
// "ERROR ..." line naming the folder and the cause, when a folder cannot be made (nothing is
// saved then) or saving fails (a channel saved before stays). True, doing nothing, when a
// channel exists already. With `serviceAccount`, both folders are given to that account
// (GrantChannelFolder) once they exist, so that the service may print from them.
bool CreateFirstChannels(C_Kernel& kernel, const std::string& baseFolder,
                         const std::string& defaultPrinter, const std::string& serviceAccount = {});

}  // namespace vellumora
