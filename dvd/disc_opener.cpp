#include "dvd/disc_opener.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "dvd/dvd_plugin_loader.h"

namespace {

const char kRowIndent[] = "   ";

// A drive with an empty tray or an open door has a device node but no disc.
bool DriveHasDisc(const std::string& device) {
  const int fd = open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const int status = ioctl(fd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
  close(fd);
  // Devices that do not answer the query (loop devices, USB bridges) are given a chance.
  return status < 0 || status == CDS_DISC_OK;
}

bool PathHoldsDisc(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return false;
  if (S_ISBLK(st.st_mode)) return DriveHasDisc(path);
  return S_ISDIR(st.st_mode) || S_ISREG(st.st_mode);
}

std::string TrackItem(int32_t streamId, const char* language) {
  return std::to_string(streamId) + "  " + std::string(language, strnlen(language, 64));
}

}  // namespace

TlvFilesRecord NewTitleRecord(int titleNumber, const TDVDTitleInfo& info) {
  TlvFilesRecord record;
  record.TitleNumber = titleNumber;
  record.Duration = int32_t(std::max(0.0, std::trunc(info.Duration)));
  record.TitleInfo = info;
  if (info.AudioCount > 0) {
    record.AudioIndex = 0;
    record.AudioStreamId = info.Audio[0].StreamId;
  }
  if (info.SubtitleCount > 0) {
    record.SubtitleIndex = 0;
    record.SubtitleStreamId = info.Subtitle[0].StreamId;
  }
  record.ChapterFrom = 1;
  record.ChapterTo = info.ChapterCount;
  return record;
}

std::string DisplayAspectText(const TDVDTitleInfo& info) {
  const TDisplayAspect aspect = TitleDisplayAspect(info);
  return std::to_string(aspect.X) + ":" + std::to_string(aspect.Y);
}

std::string FormatTitleSeconds(double seconds) {
  const long long whole = seconds > 0 && std::isfinite(seconds) ? (long long)seconds : 0;
  char text[32];
  snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  return text;
}

std::vector<std::string> AudioComboItems(const TDVDTitleInfo& info) {
  std::vector<std::string> items;
  for (int i = 0; i < std::min(info.AudioCount, kDVDMaxAudio); ++i)
    items.push_back(TrackItem(info.Audio[i].StreamId, info.Audio[i].Language));
  return items;
}

std::vector<std::string> SubtitleComboItems(const TDVDTitleInfo& info) {
  std::vector<std::string> items;
  for (int i = 0; i < std::min(info.SubtitleCount, kDVDMaxSubtitles); ++i)
    items.push_back(TrackItem(info.Subtitle[i].StreamId, info.Subtitle[i].Language));
  items.push_back("Default");
  return items;
}

TDiscOpenResult OpenDisc(const std::string& drivePath, TDiscOpenerReport& report) {
  TDiscOpenResult result;
  if (!LoadDVDPlugInOnDemand()) return result;
  result.PlugInLoaded = true;

  if (!PathHoldsDisc(drivePath)) {
    report.ShowMessage({dmNoDisc, "Can't find a DVD Disk!", "Warning", miWarning,
                        drivePath.empty() ? "" : "\"" + drivePath + "\" holds no disc."});
    return result;
  }
  const int count = EnumDVDTitles(drivePath);
  if (count < 1) {
    report.ShowMessage({dmNoTitles, "No DVD title(s) found. Maybe not a valid DVD.", "Message",
                        miInformation, DVDLastErrorText()});
    return result;
  }
  for (int i = 0; i < count; ++i) {
    TDVDTitleInfo info;
    if (!GetDVDTitle(i, info)) {
      report.ShowMessage({dmInvalidTitle, "Title #" + std::to_string(i + 1) + " is invalid",
                          "Warning", miWarning, DVDLastErrorText()});
      continue;
    }
    TDVDTitleRow row;
    row.Caption = "DVD Title " + std::to_string(i + 1);
    row.DurationText = kRowIndent + FormatTitleSeconds(info.Duration);
    row.TrimLengthText = row.DurationText;
    row.FrameSizeText = kRowIndent + std::to_string(info.Width) + " x " +
                        std::to_string(info.Height) + " (" + DisplayAspectText(info) + ")";
    row.VideoFormatText = kRowIndent + DVDFormatName(info.VideoFormat);
    row.Record = NewTitleRecord(i, info);
    result.AudioItems = AudioComboItems(info);
    result.AudioEnabled = info.AudioCount >= 1;
    result.SubtitleItems = SubtitleComboItems(info);
    result.Rows.push_back(std::move(row));
  }
  return result;
}

TDVDParam DVDParamForConversion(const TlvFilesRecord& record) {
  return {record.TitleNumber,
          record.ChapterFrom,
          record.ChapterTo,
          std::max(record.AudioStreamId, 0),
          std::max(record.SubtitleStreamId, 0),
          2,
          0};
}

TDVDParam DVDParamForPreview(const TlvFilesRecord* record) {
  if (!record) return {0, 0, 99, 128, 32, 2, 0};
  return {record->TitleNumber,
          0,
          record->TitleInfo.ChapterCount,
          record->AudioStreamId,
          record->SubtitleStreamId,
          2,
          0};
}

TDVDParam DVDParamForEditor(const TlvFilesRecord& record) {
  return {record.TitleNumber, 0, 99, 128, 32, 2, 0};
}
