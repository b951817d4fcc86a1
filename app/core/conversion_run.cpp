#include "app/core/conversion_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "app/core/format_catalogue.h"
#include "dvd/dvd_plugin_loader.h"
#include "media/ffmpeg_ptr.h"
#include "media/io_scheme.h"
#include "media/loader.h"
#include "media/main_thread.h"
#include "media/strings.h"

namespace {

TThreadPriority PriorityOf(int setting) {
  switch (setting) {
    case psIdle:
      return tpIdle;
    case psLower:
      return tpLower;
    case psLowest:
      return tpLowest;
    default:
      return tpNormal;
  }
}

// Removes a file this run created and nothing wrote to.
bool RemoveClaimedFile(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0) return false;
  return unlink(path.c_str()) == 0;
}

std::string ShortCaption(const std::string& caption) {
  if (caption.size() < 51) return caption;
  return caption.substr(0, 44) + ".." + std::filesystem::path(caption).extension().string();
}

}  // namespace

TInputOptions JobInputOptions(const TlvFilesRecord& record) {
  TInputOptions input;
  InitInputOptions(input);
  if (record.TrimStart >= 0) input.StartTime = record.TrimStart;
  return input;
}

TOutputOptions JobOutputOptions(const TlvFilesRecord& record, const TFormatParams& params,
                                const std::string& catalogueFormat, const TDVDTitleInfo& info,
                                TJobDialogs& dialogs) {
  TOutputOptions output;
  InitOutputOptions(output);
  if (record.CropTop > 0 || record.CropBottom > 0 || record.CropLeft > 0 || record.CropRight > 0) {
    output.CropTop = record.CropTop;
    output.CropBottom = record.CropBottom;
    output.CropLeft = record.CropLeft;
    output.CropRight = record.CropRight;
  }
  BuildOutputOptions(record, params, catalogueFormat, output, info, dialogs);
  if (record.TrimLength > 0) output.Duration = record.TrimLength;
  output.CustomHook = NeedsCustomHook(record);
  return output;
}

TConversionRun::TConversionRun(const TGlobalObject& global, TConversionHost& host)
    : FGlobal(global), FHost(host), FConverter(std::make_unique<TConverter>()) {
  FConverter->SetPreviewBitmap(true);
  FConverter->OnProgress = [this](TCustomConverter*, PProgressInfo info) { HandleProgress(*info); };
  FConverter->OnPreviewBitmap = [this](TCustomConverter*, const TPreviewInfo& info) {
    HandlePreviewBitmap(info);
  };
  // Delivered on the component's own thread; everything it does to the run and the host
  // happens on the main thread, one event after another.
  FConverter->OnTerminate = [this](TCustomConverter*, const TTerminateInfo& info) {
    CallInMainThread([this, info] { HandleTermination(info); });
  };
  FConverter->OnCustomHook = [this](TCustomConverter*, PHookInfo info) {
    const int job = info->JobIndex;
    if (!FRows || job < 0 || job >= int(FJobRows.size())) return;
    const int row = FJobRows[size_t(job)];
    if (row < 0 || row >= int(FRows->size())) return;
    ConversionHook(*info, (*FRows)[size_t(row)].Record, FHookCache);
  };
}

TConversionRun::~TConversionRun() {
  // Stop and free the jobs before the rows and the hook cache they use go away.
  FConverter.reset();
}

int TConversionRun::EffectiveFormatCode() const {
  return FormatCodeOverride ? *FormatCodeOverride : FGlobal.Settings().FormatCode();
}

TFormatParams TConversionRun::EffectiveParams(int code) const {
  TFormatParams params =
      ReadFormatParams(FGlobal.Settings(), TFormatCatalogue(FGlobal.FormatIniPath()), code);
  for (const auto& [key, value] : ParamOverrides) {
    for (int list = 0; list < plCount; ++list)
      if (SameText(key, ParamListInfo(TParamList(list)).ParaKey))
        params.Value(TParamList(list)) = value;
    if (SameText(key, kParaZoom)) params.Zoom = value;
  }
  return params;
}

std::string TConversionRun::OutputFolder() const {
  return OutputDirOverride.empty() ? FGlobal.Settings().OutPutDir() : OutputDirOverride;
}

TStartResult TConversionRun::StartConversion(const std::string& drivePath,
                                             std::vector<TDVDTitleRow>& rows) {
  FLastError.clear();
  // 1, 2. Libraries and plug-in, silently.
  if (!FConverter->LibrariesReady() && !FConverter->LoadLibrariesFrom(DefaultDVDPlugInFolder()))
    return srNoLibraries;
  if (!LoadDVDPlugInOnDemand()) return srNoPlugIn;

  // 4. Something to do?
  const auto checked =
      std::count_if(rows.begin(), rows.end(), [](const TDVDTitleRow& row) { return row.Checked; });
  if (checked == 0) {
    FHost.ShowWarning("Please select a file by clicking the check box!", "Warning");
    return srNoRows;
  }

  // 5. A fresh run.
  FConverter->ClearTasks();
  FRows = &rows;
  FJobRows.clear();
  FJobRows.reserve(size_t(checked));
  FOutputFiles.clear();
  FOutputStates.clear();
  FOutputHasVideo.clear();
  // Names this start claimed: given back unless the start gets to the progress.
  std::vector<std::string> claimed;
  bool started = false;
  struct TGiveBack {
    std::vector<std::string>& Names;
    bool& Started;
    TConversionHost& Host;
    ~TGiveBack() {
      if (Started) return;
      for (const std::string& name : Names)
        if (RemoveClaimedFile(name)) Host.OutputReleased(name);
    }
  } giveBack{claimed, started, FHost};
  FPreviewFrame = TBitmap();
  FConverter->SetPreview(FHost.ShowsPreviewWindow());
  FConverter->SetThreadPriority(PriorityOf(FGlobal.Settings().Priority()));

  const TFormatCatalogue catalogue(FGlobal.FormatIniPath());
  for (size_t r = 0; r < rows.size(); ++r) {
    TDVDTitleRow& row = rows[r];
    if (!row.Checked) continue;
    TlvFilesRecord& record = row.Record;

    // 6.1 The title as the plug-in sees it now.
    TDVDTitleInfo info;
    if (!GetDVDTitle(record.TitleNumber, info)) {
      FHost.ShowWarning("Title #" + std::to_string(record.TitleNumber + 1) + " is invalid",
                        "Warning");
      continue;
    }

    // 6.2 to 6.4 Format, output name, zoom.
    const int code = EffectiveFormatCode();
    const TFormatParams params = EffectiveParams(code);
    const std::string ext = "." + catalogue.FileExt(code);
    const std::string name =
        MakeOutputFileName(FGlobal, row.Caption, ext, FHost, OutputDirOverride);
    claimed.push_back(name);
    FHost.OutputClaimed(name);
    record.ZoomMode = params.Zoom;

    // 6.5 to 6.7 Selection and input.
    SetDVDParam(DVDParamForConversion(record));
    TInputOptions input = JobInputOptions(record);
    const int task = FConverter->AddTask(std::string(kDVDInputScheme) + ":" + drivePath, &input);
    if (task >= 0) FJobRows.push_back(int32_t(r));

    // 6.8 to 6.11 Output options.
    TOutputOptions output;
    try {
      output = JobOutputOptions(record, params, catalogue.Format(code), info, FHost);
    } catch (...) {
      if (task >= 0) {
        FConverter->RemoveTask(task);
        FJobRows.pop_back();
      }
      throw;
    }

    // 6.12 A job that cannot be set up ends the whole start.
    if (task < 0 || !FConverter->SetOutputFile(task, name, &output)) {
      FLastError = FConverter->LastError();
      if (task >= 0) {
        FConverter->RemoveTask(task);
        FJobRows.pop_back();
      }
      return srAbandoned;
    }
    FOutputFiles.push_back(name);
    FOutputStates.push_back(osPending);
    FOutputHasVideo.push_back(!output.DisableVideo);
  }

  // 7. The progress, until the final event.
  started = true;
  FHost.RunProgressModal(*this);
  return srRan;
}

bool TConversionRun::IsPlayableFile(const std::string& path, bool needPicture) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return false;
  AVFormatContext* raw = nullptr;
  // "file:" keeps a colon in the name from being read as a protocol.
  if (avformat_open_input(&raw, ("file:" + path).c_str(), nullptr, nullptr) < 0) return false;
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> input(
      raw, [](AVFormatContext* p) { avformat_close_input(&p); });
  if (avformat_find_stream_info(input.get(), nullptr) < 0) return false;
  std::vector<AVCodecContextPtr> decoders(input->nb_streams);
  // Codecs are opened and closed under the process's codec lock.
  struct TCloseUnderLock {
    std::vector<AVCodecContextPtr>& Decoders;
    ~TCloseUnderLock() {
      std::lock_guard lock(CodecLock());
      Decoders.clear();
    }
  } closeDecoders{decoders};
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVCodecParameters* par = input->streams[i]->codecpar;
    if (par->codec_type != AVMEDIA_TYPE_VIDEO &&
        (needPicture || par->codec_type != AVMEDIA_TYPE_AUDIO))
      continue;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) continue;
    AVCodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), par) < 0) continue;
    decoder->thread_count = 1;
    std::lock_guard lock(CodecLock());
    if (avcodec_open2(decoder.get(), codec, nullptr) == 0) decoders[i] = std::move(decoder);
  }
  AVPacketPtr packet = MakePacket();
  AVFramePtr frame = MakeFrame();
  if (!packet || !frame) return false;
  // A few hundred packets reach the first picture of any format the catalogue writes.
  for (int n = 0; n < 500 && av_read_frame(input.get(), packet.get()) >= 0; ++n) {
    AVCodecContext* decoder = decoders[size_t(packet->stream_index)].get();
    const bool sent = decoder && avcodec_send_packet(decoder, packet.get()) >= 0;
    av_packet_unref(packet.get());
    if (sent && avcodec_receive_frame(decoder, frame.get()) >= 0) return true;
  }
  return false;
}

bool TConversionRun::StartLeavesAPicture(const std::string& drivePath, const TlvFilesRecord& record,
                                         double partSeconds) {
  // A DVD's groups of pictures last a second at most; further from the end a start always
  // has a key picture after it.
  constexpr double kLongestGroup = 1.5;
  if (record.TrimStart <= 0 || double(record.TrimStart) / 1e6 < partSeconds - kLongestGroup)
    return true;
  SetDVDParam(DVDParamForConversion(record));
  AVFormatContext* raw = nullptr;
  if (OpenMediaInput(&raw, std::string(kDVDInputScheme) + ":" + drivePath, nullptr, nullptr) < 0)
    return true;
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> input(
      raw, [](AVFormatContext* p) { CloseMediaInput(&p); });
  {
    std::lock_guard lock(CodecLock());
    if (avformat_find_stream_info(input.get(), nullptr) < 0) return true;
  }
  const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) return true;
  const AVStream* stream = input->streams[index];
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec) return true;
  // As the engine seeks: to the start from the input's own first time, backwards.
  int64_t target = record.TrimStart;
  if (input->start_time != AV_NOPTS_VALUE) target += input->start_time;
  if (av_seek_frame(input.get(), -1, target, AVSEEK_FLAG_BACKWARD) < 0) return true;

  AVCodecContextPtr decoder(avcodec_alloc_context3(codec));
  if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0) return true;
  decoder->thread_count = 1;
  struct TCloseUnderLock {
    AVCodecContextPtr& Decoder;
    ~TCloseUnderLock() {
      std::lock_guard lock(CodecLock());
      Decoder.reset();
    }
  } closeDecoder{decoder};
  {
    std::lock_guard lock(CodecLock());
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return true;
  }
  AVPacketPtr packet = MakePacket();
  AVFramePtr frame = MakeFrame();
  if (!packet || !frame) return true;
  const auto pictureAfterStart = [&] {
    while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
      const int64_t time = frame->best_effort_timestamp;
      av_frame_unref(frame.get());
      if (time == AV_NOPTS_VALUE || av_rescale_q(time, stream->time_base, AV_TIME_BASE_Q) >= target)
        return true;
    }
    return false;
  };
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    const bool ours = packet->stream_index == index;
    if (ours) avcodec_send_packet(decoder.get(), packet.get());
    av_packet_unref(packet.get());
    if (ours && pictureAfterStart()) return true;
  }
  avcodec_send_packet(decoder.get(), nullptr);
  return pictureAfterStart();
}

void TConversionRun::StartTasks() {
  FConverter->StartTask(1);
}

void TConversionRun::Stop() {
  FConverter->StopTask(false);
}

TJobProgress TConversionRun::DescribeProgress(const TProgressInfo& info, int row, int taskCount,
                                              const std::string& caption) {
  TJobProgress p;
  p.JobIndex = info.JobIndex;
  p.Row = row;
  p.TaskCount = taskCount;
  p.OutputTime = info.OutputTime;
  p.ExpectedDuration = info.ExpectedDuration;
  p.OutputSize = info.OutputSize;
  if (info.ExpectedDuration > 0) {
    p.Percent = int(std::clamp<int64_t>(info.OutputTime * 100 / info.ExpectedDuration, 0, 100));
    p.CellText = std::to_string(p.Percent) + "%";
    p.LengthText = std::to_string(info.ExpectedDuration / 1000000) + " Second";
  } else {
    p.Percent = -1;
    p.LengthText = "unknown";
  }
  p.CurrentTimeText = std::to_string(info.OutputTime / 1000000) + " Second";
  p.FileSizeText = std::to_string(info.OutputSize / 1000) + " kb";
  p.ProgressText = "[" + std::to_string(info.JobIndex + 1) + "/" + std::to_string(taskCount) + "]";
  p.FileText = ShortCaption(caption);
  return p;
}

void TConversionRun::HandleProgress(const TProgressInfo& info) {
  const int job = info.JobIndex;
  if (!FRows || job < 0 || job >= int(FJobRows.size())) return;
  const int row = FJobRows[size_t(job)];
  FHost.ShowProgress(
      DescribeProgress(info, row, FConverter->TaskCount(), (*FRows)[size_t(row)].Caption));
}

void TConversionRun::HandlePreviewBitmap(const TPreviewInfo& info) {
  if (!info.Bitmap || info.Bitmap->Width() <= 0 || info.Bitmap->Height() <= 0) return;
  FPreviewFrame = *info.Bitmap;
  FHost.ShowPreviewFrame(FPreviewFrame);
}

void TConversionRun::HandleTermination(const TTerminateInfo& info) {
  if (info.JobIndex < 0) {
    FHost.RunEnded();
    FConverter->ClearTasks();
    FHost.CloseProgress();
    return;
  }
  const int row = info.JobIndex < int(FJobRows.size()) ? FJobRows[size_t(info.JobIndex)] : -1;
  if (info.JobIndex < int(FOutputFiles.size())) {
    // The job's worker has closed the file by now.
    const std::string& file = FOutputFiles[size_t(info.JobIndex)];
    TOutputState& state = FOutputStates[size_t(info.JobIndex)];
    // A finished job of a format with pictures must have written one: sound alone (a start
    // inside the last group of pictures) is no success.
    const bool plays =
        IsPlayableFile(file, info.Finished && FOutputHasVideo[size_t(info.JobIndex)]);
    if (info.Finished && plays) {
      state = osWritten;
    } else if (plays) {
      state = info.Failed ? osKept : osStopped;
    } else {
      // Nothing that plays (an index never written, a header alone, a job that never
      // started): not worth a file. Only a regular file is removed.
      struct stat st {};
      if (lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(file.c_str());
      state = info.Finished ? osNothing : osRemoved;
    }
  }
  FHost.JobEnded(info, row);
  if (!info.Finished) return;
  if (info.JobIndex < int(FOutputStates.size()) &&
      FOutputStates[size_t(info.JobIndex)] == osNothing)
    return;
  FHost.JobFinished(info.JobIndex, row);
  // The run's last job: the after-run actions. (Counted by jobs, not by checked rows, so a
  // title refused at the start does not cancel them.)
  if (info.JobIndex + 1 == int(FJobRows.size())) {
    if (FHost.OpenFolderAfterRun()) FHost.OpenOutputFolder(OutputFolder());
    if (FHost.ShutDownAfterRun()) FHost.ShutDownComputer();
  }
}
