#include "media/frame_converter.h"
#include "media/picture_scaler.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <random>

#include "media/ffmpeg_ptr.h"

namespace {

// A picture of noise: every row and chroma row differs, so a band that read the wrong rows
// or a chroma filter reaching across a band's edge shows.
AVFramePtr NoisePicture(AVPixelFormat format, int width, int height, unsigned seed) {
  AVFramePtr frame = MakeFrame();
  frame->format = format;
  frame->width = width;
  frame->height = height;
  EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  std::mt19937 random(seed);
  for (int plane = 0; plane < 4 && frame->data[plane]; ++plane) {
    const int rows = plane == 0 ? height : (height + 1) / 2;
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < frame->linesize[plane]; ++x)
        frame->data[plane][size_t(y) * frame->linesize[plane] + x] = uint8_t(random());
  }
  return frame;
}

// One pass of a whole-picture scaler, the way a single-threaded conversion makes it.
std::vector<uint8_t> OnePass(const AVFrame& picture) {
  SwsContextPtr scaler(sws_getContext(picture.width, picture.height, AVPixelFormat(picture.format),
                                      picture.width, picture.height, AV_PIX_FMT_BGR24, SWS_BICUBIC,
                                      nullptr, nullptr, nullptr));
  const int stride = FFALIGN(picture.width * 3, 64);
  std::vector<uint8_t> rgb(size_t(stride) * (picture.height + 1));
  uint8_t* dst[4] = {rgb.data()};
  const int dstStride[4] = {stride};
  sws_scale(scaler.get(), picture.data, picture.linesize, 0, picture.height, dst, dstStride);
  std::vector<uint8_t> rows;
  for (int y = 0; y < picture.height; ++y)
    rows.insert(rows.end(), rgb.begin() + size_t(y) * stride,
                rgb.begin() + size_t(y) * stride + size_t(picture.width) * 3);
  return rows;
}

std::vector<uint8_t> BitmapRows(const TBitmap& bitmap) {
  std::vector<uint8_t> rows;
  for (int y = 0; y < bitmap.Height(); ++y)
    rows.insert(rows.end(), bitmap.ScanLine(y), bitmap.ScanLine(y) + size_t(bitmap.Width()) * 3);
  return rows;
}

// The picture a whole-picture scaler makes of the converter's bitmap.
AVFramePtr OnePassBack(const TBitmap& bitmap, AVPixelFormat format) {
  const int width = bitmap.Width(), height = bitmap.Height();
  SwsContextPtr scaler(sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, format,
                                      SWS_BICUBIC, nullptr, nullptr, nullptr));
  const int stride = FFALIGN(width * 3, 64);
  std::vector<uint8_t> rgb(size_t(stride) * (height + 1));
  for (int y = 0; y < height; ++y)
    std::memcpy(rgb.data() + size_t(y) * stride, bitmap.ScanLine(y), size_t(width) * 3);
  const uint8_t* src[4] = {rgb.data()};
  const int srcStride[4] = {stride};
  AVFramePtr picture = NoisePicture(format, width, height, 1);
  sws_scale(scaler.get(), src, srcStride, 0, height, picture->data, picture->linesize);
  return picture;
}

bool SamePlanes(const AVFrame& a, const AVFrame& b) {
  for (int plane = 0; plane < 3; ++plane) {
    const bool chroma = plane > 0;
    const int rows = chroma ? (a.height + 1) / 2 : a.height;
    const int bytes = chroma ? (a.width + 1) / 2 : a.width;
    for (int y = 0; y < rows; ++y)
      if (std::memcmp(a.data[plane] + size_t(y) * a.linesize[plane],
                      b.data[plane] + size_t(y) * b.linesize[plane], size_t(bytes))) {
        ADD_FAILURE() << "plane " << plane << " row " << y << " differs";
        return false;
      }
  }
  return true;
}

}  // namespace

// Pictures converted in bands, in place or through the scaler's own buffer, must equal one
// pass over the whole picture, for the sizes that take each way.
TEST(FrameConverter, EveryWayGivesThePixelsOfOnePass) {
  struct {
    AVPixelFormat format;
    int width, height;
  } cases[] = {
      {AV_PIX_FMT_YUV420P, 720, 576},   // bands, in place
      {AV_PIX_FMT_YUVJ420P, 720, 480},  // full range
      {AV_PIX_FMT_YUV420P, 718, 576},   // bands through the buffer
      {AV_PIX_FMT_YUV420P, 720, 575},   // odd height: one pass
      {AV_PIX_FMT_YUV420P, 352, 34},    // too short for bands
      {AV_PIX_FMT_YUV422P, 720, 576},   // not 4:2:0: one pass, in place
      {AV_PIX_FMT_YUV444P, 250, 98},
  };
  FrameConverter converter;  // one converter for all: a size change must rebuild everything
  for (const auto& c : cases) {
    AVFramePtr picture = NoisePicture(c.format, c.width, c.height, unsigned(c.width + c.height));
    for (int round = 0; round < 2; ++round) {  // the second round reuses the cached scalers
      ASSERT_TRUE(converter.ToRGB(picture->data, picture->linesize, c.format, c.height, c.width));
      ASSERT_EQ(converter.Bitmap()->Width(), c.width);
      ASSERT_EQ(converter.Bitmap()->Height(), c.height);
      EXPECT_TRUE(BitmapRows(*converter.Bitmap()) == OnePass(*picture))
          << av_get_pix_fmt_name(c.format) << " " << c.width << "x" << c.height;
      EXPECT_TRUE(converter.Unchanged());
    }
  }
}

TEST(FrameConverter, UnchangedUntilSomebodyDraws) {
  for (int width : {720, 718}) {  // in place; through the buffer
    FrameConverter converter;
    AVFramePtr picture = NoisePicture(AV_PIX_FMT_YUV420P, width, 64, 7);
    ASSERT_TRUE(converter.ToRGB(picture->data, picture->linesize, AV_PIX_FMT_YUV420P, 64, width));
    const TBitmap& reader = *converter.Bitmap();
    EXPECT_NE(reader.ScanLine(10)[5], 0x100);  // reading is not drawing
    EXPECT_TRUE(converter.Unchanged()) << width;
    converter.Bitmap()->ScanLine(63)[width * 3 - 1] ^= 0xff;
    EXPECT_FALSE(converter.Unchanged()) << width;
    // Converting again makes the new picture the reference.
    ASSERT_TRUE(converter.ToRGB(picture->data, picture->linesize, AV_PIX_FMT_YUV420P, 64, width));
    EXPECT_TRUE(converter.Unchanged()) << width;
  }
}

// The way back in bands must give the pixels of one pass too: its chroma filter reaches
// across rows, which the bands' margins cover.
TEST(FrameConverter, WayBackGivesThePixelsOfOnePass) {
  struct {
    AVPixelFormat format;
    int width, height;
  } cases[] = {
      {AV_PIX_FMT_YUV420P, 720, 576},  // bands read the bitmap in place
      {AV_PIX_FMT_YUVJ420P, 720, 480}, {AV_PIX_FMT_YUV420P, 718, 576},  // bands read a copy
      {AV_PIX_FMT_YUV420P, 720, 70},   // two bands, margins reaching the far edges
      {AV_PIX_FMT_YUV420P, 720, 575},  // odd height: one pass
      {AV_PIX_FMT_YUV422P, 720, 576},  // not 4:2:0: one pass
  };
  FrameConverter converter;
  for (const auto& c : cases) {
    AVFramePtr picture = NoisePicture(c.format, c.width, c.height, unsigned(c.height));
    ASSERT_TRUE(converter.ToRGB(picture->data, picture->linesize, c.format, c.height, c.width));
    TBitmap& bitmap = *converter.Bitmap();
    std::mt19937 random(unsigned(c.width));
    for (int y = 0; y < c.height; ++y) {  // noise the bitmap too: drawing is rarely smooth
      uint8_t* row = bitmap.ScanLine(y);
      for (int x = 0; x < c.width * 3; ++x) row[x] = uint8_t(random());
    }
    for (int round = 0; round < 2; ++round) {
      AVFramePtr back = NoisePicture(c.format, c.width, c.height, 9);
      ASSERT_TRUE(converter.FromRGB(back->data, back->linesize, c.format, c.height, c.width));
      EXPECT_TRUE(SamePlanes(*back, *OnePassBack(bitmap, c.format)))
          << av_get_pix_fmt_name(c.format) << " " << c.width << "x" << c.height;
    }
  }
}

TEST(FrameConverter, DrawingSurvivesTheWayBack) {
  for (int width : {720, 718}) {  // read in place; copied for the scaler
    FrameConverter converter;
    AVFramePtr picture = NoisePicture(AV_PIX_FMT_YUV420P, width, 64, 3);
    ASSERT_TRUE(converter.ToRGB(picture->data, picture->linesize, AV_PIX_FMT_YUV420P, 64, width));
    TBitmap& bitmap = *converter.Bitmap();
    for (int y = 0; y < 64; ++y) std::memset(bitmap.ScanLine(y), 235, size_t(width) * 3);
    AVFramePtr back = NoisePicture(AV_PIX_FMT_YUV420P, width, 64, 4);
    ASSERT_TRUE(converter.FromRGB(back->data, back->linesize, AV_PIX_FMT_YUV420P, 64, width));
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < width; ++x)
        ASSERT_NEAR(back->data[0][size_t(y) * back->linesize[0] + x], 218, 2)
            << width << " at " << x << "," << y;  // white-ish grey 235 -> limited-range Y
  }
}

// The resize on slice threads must give the pixels of one thread, including the sources the
// scaler keeps to one thread (RGB into 4:2:0 at the same size would show a seam).
TEST(PictureScaler, SlicedResizeGivesThePixelsOfOneThread) {
  struct {
    AVPixelFormat from;
    int width, height;
    AVPixelFormat to;
    int toWidth, toHeight;
  } cases[] = {
      {AV_PIX_FMT_YUV420P, 720, 576, AV_PIX_FMT_YUV420P, 320, 240},
      {AV_PIX_FMT_YUV420P, 720, 480, AV_PIX_FMT_YUV411P, 720, 480},
      {AV_PIX_FMT_YUV422P, 720, 576, AV_PIX_FMT_YUV420P, 352, 288},
      {AV_PIX_FMT_BGR24, 720, 576, AV_PIX_FMT_YUV420P, 720, 576},
  };
  for (const auto& c : cases) {
    AVFramePtr picture = NoisePicture(c.from, c.width, c.height, 5);
    SwsContextPtr sliced =
        MakeResizeScaler(c.width, c.height, c.from, c.toWidth, c.toHeight, c.to, SWS_BICUBIC);
    ASSERT_TRUE(sliced);
    AVFramePtr out = NoisePicture(c.to, c.toWidth, c.toHeight, 6);
    ScalePicture(sliced.get(), picture.get(), out.get());
    SwsContextPtr single(sws_getContext(c.width, c.height, c.from, c.toWidth, c.toHeight, c.to,
                                        SWS_BICUBIC, nullptr, nullptr, nullptr));
    AVFramePtr expected = NoisePicture(c.to, c.toWidth, c.toHeight, 7);
    sws_scale(single.get(), picture->data, picture->linesize, 0, c.height, expected->data,
              expected->linesize);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(c.to);
    for (int plane = 0; plane < 3; ++plane) {
      const int rows = plane ? -((-c.toHeight) >> desc->log2_chroma_h) : c.toHeight;
      const int bytes = plane ? -((-c.toWidth) >> desc->log2_chroma_w) : c.toWidth;
      for (int y = 0; y < rows; ++y)
        ASSERT_EQ(std::memcmp(out->data[plane] + size_t(y) * out->linesize[plane],
                              expected->data[plane] + size_t(y) * expected->linesize[plane],
                              size_t(bytes)),
                  0)
            << av_get_pix_fmt_name(c.from) << " -> " << av_get_pix_fmt_name(c.to) << " plane "
            << plane << " row " << y;
    }
  }
}
