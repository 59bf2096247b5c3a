// OpenH264 loaded at run time, with the fixed screen-content parameters, and
// the Annex-B helpers. The library is looked up by name at run time so the
// program starts (without video) on a machine that lacks it.
#include "video/h264_encoder.h"

#include <wels/codec_api.h>

#include <cstdio>
#include <cstring>

#include "core/log.h"
#include "video/convert.h"

namespace lcx {

namespace {

using CreateFn = int (*)(ISVCEncoder**);
using DestroyFn = void (*)(ISVCEncoder*);

}  // namespace

H264Encoder::~H264Encoder() { Close(); }

bool H264Encoder::Open(int width, int height, int fps, int bitrate_kbps, EncoderUsage usage) {
  Close();
  width_ = width & ~1;
  height_ = height & ~1;
  if (width_ < 1 || height_ < 1) {
    LogLine("H.264 encoder: picture size %dx%d is below 2x2\n", width, height);
    return false;
  }

  // Our own build first, then Debian's runtime package, then the development link.
  library_ = DynamicLibrary::Open({"libhxcore.so", "libopenh264.so.7", "libopenh264.so"});
  if (!library_) {
    LogLine("H.264 encoder: OpenH264 library not found (%s)\n", library_.error().c_str());
    return false;
  }
  auto create = reinterpret_cast<CreateFn>(library_.Symbol("WelsCreateSVCEncoder"));
  destroy_ = reinterpret_cast<DestroyFn>(library_.Symbol("WelsDestroySVCEncoder"));
  if (!create || !destroy_) {
    LogLine("H.264 encoder: %s lacks an entry point (%s)\n", library_.name().c_str(), library_.error().c_str());
    return false;
  }

  ISVCEncoder* encoder = nullptr;
  if (const int rc = create(&encoder); rc != 0 || !encoder) {
    LogLine("H.264 encoder: WelsCreateSVCEncoder failed (%d)\n", rc);
    return false;
  }

  // The library's warnings about ignored screen-content options would go
  // to stderr on every open; errors still do.
  int trace_level = WELS_LOG_ERROR;
  encoder->SetOption(ENCODER_OPTION_TRACE_LEVEL, &trace_level);

  SEncParamExt param;
  std::memset(&param, 0, sizeof param);
  encoder->GetDefaultParams(&param);
  param.iUsageType = usage == EncoderUsage::kCamera ? CAMERA_VIDEO_REAL_TIME : SCREEN_CONTENT_REAL_TIME;
  param.iPicWidth = width_;
  param.iPicHeight = height_;
  param.iTargetBitrate = bitrate_kbps * 1000;
  param.iRCMode = RC_BITRATE_MODE;
  param.fMaxFrameRate = static_cast<float>(fps);
  param.iSpatialLayerNum = 1;
  param.sSpatialLayers[0].iVideoWidth = width_;
  param.sSpatialLayers[0].iVideoHeight = height_;
  param.sSpatialLayers[0].fFrameRate = static_cast<float>(fps);
  param.sSpatialLayers[0].iSpatialBitrate = bitrate_kbps * 1000;
  param.uiIntraPeriod = static_cast<unsigned>(fps);  // one IDR per second of frames
  param.eSpsPpsIdStrategy = CONSTANT_ID;
  param.bEnableFrameSkip = false;
  if (const int rc = encoder->InitializeExt(&param); rc != 0) {
    LogLine("H.264 encoder: InitializeExt failed (%d) at %dx%d, %d fps, %d kbit/s\n", rc, width_, height_, fps,
            bitrate_kbps);
    destroy_(encoder);
    return false;
  }
  int format = videoFormatI420;
  encoder->SetOption(ENCODER_OPTION_DATAFORMAT, &format);
  encoder_ = encoder;
  picture_.assign(static_cast<size_t>(width_) * height_ * 3 / 2, 0);
  return true;
}

bool H264Encoder::Encode(const uint8_t* src, int src_stride_px, int /*src_height*/,
                         std::vector<uint8_t>& out, bool force_idr) {
  if (!encoder_) return false;
  uint8_t* y = picture_.data();
  uint8_t* u = y + static_cast<size_t>(width_) * height_;
  uint8_t* v = u + static_cast<size_t>(width_ / 2) * (height_ / 2);
  ConvertBgraToI420(src, src_stride_px, width_, height_, y, u, v);
  if (force_idr) encoder_->ForceIntraFrame(true, -1);

  SSourcePicture pic;
  std::memset(&pic, 0, sizeof pic);
  pic.iColorFormat = videoFormatI420;
  pic.iStride[0] = width_;
  pic.iStride[1] = width_ / 2;
  pic.iStride[2] = width_ / 2;
  pic.pData[0] = y;
  pic.pData[1] = u;
  pic.pData[2] = v;
  pic.iPicWidth = width_;
  pic.iPicHeight = height_;
  pic.uiTimeStamp = 0;

  SFrameBSInfo info;
  std::memset(&info, 0, sizeof info);
  if (encoder_->EncodeFrame(&pic, &info) != 0) return false;
  if (info.eFrameType == videoFrameTypeSkip || info.iLayerNum < 1) return true;
  for (int i = 0; i < info.iLayerNum; ++i) {
    const SLayerBSInfo& layer = info.sLayerInfo[i];
    size_t length = 0;
    for (int n = 0; n < layer.iNalCount; ++n) length += static_cast<size_t>(layer.pNalLengthInByte[n]);
    out.insert(out.end(), layer.pBsBuf, layer.pBsBuf + length);
  }
  return true;
}

bool H264Encoder::EncodeSharp(const uint8_t* src, int src_stride_px, int src_height, std::vector<uint8_t>& out) {
  if (!encoder_) return false;
  SEncParamExt param;
  std::memset(&param, 0, sizeof param);
  if (encoder_->GetOption(ENCODER_OPTION_SVC_ENCODE_PARAM_EXT, &param) != 0) return false;
  const int min_qp = param.iMinQp, max_qp = param.iMaxQp;
  // The screen-content defaults (26..35) are lowered together: a maximum
  // under the minimum is refused.
  param.iMinQp = kSharpMinQp;
  param.iMaxQp = kSharpMaxQp;
  if (encoder_->SetOption(ENCODER_OPTION_SVC_ENCODE_PARAM_EXT, &param) != 0) return false;
  const bool ok = Encode(src, src_stride_px, src_height, out, true);
  param.iMaxQp = max_qp;
  param.iMinQp = min_qp;
  // Left at the sharp bounds, every later frame would overrun the bit rate.
  if (encoder_->SetOption(ENCODER_OPTION_SVC_ENCODE_PARAM_EXT, &param) != 0) {
    LogLine("H.264 encoder: the quantiser range could not be put back after a sharp picture\n");
    Close();
    return false;
  }
  return ok;
}

void H264Encoder::Close() {
  if (encoder_ && destroy_) destroy_(encoder_);
  encoder_ = nullptr;
  destroy_ = nullptr;
  library_.Close();
  picture_.clear();
  picture_.shrink_to_fit();
}

size_t FindStartCode(const uint8_t* bytes, size_t length, size_t from, size_t* code_length) {
  // The earliest start code is found through its 00 00 01 tail: a 4-byte
  // code at i always has a 3-byte code at i + 1, and none can come earlier.
  size_t k = from + 2;
  while (k < length) {
    const void* hit = std::memchr(bytes + k, 1, length - k);
    if (!hit) break;
    k = static_cast<size_t>(static_cast<const uint8_t*>(hit) - bytes);
    if (bytes[k - 1] == 0 && bytes[k - 2] == 0) {
      const size_t j = k - 2;
      if (j > from && bytes[j - 1] == 0) {
        *code_length = 4;
        return j - 1;
      }
      *code_length = 3;
      return j;
    }
    ++k;
  }
  *code_length = 0;
  return length;
}

std::vector<NalUnit> SplitAnnexB(const uint8_t* bytes, size_t length) {
  std::vector<NalUnit> units;
  ForEachNalUnit(bytes, length, [&](NalUnit n) { units.push_back(n); });
  return units;
}

bool HasNalType(const uint8_t* bytes, size_t length, int type) {
  bool found = false;
  ForEachNalUnit(bytes, length, [&](NalUnit n) {
    if ((n.data[0] & 0x1F) == type) found = true;
  });
  return found;
}

bool ExtractParameterSets(const std::vector<uint8_t>& access_unit, std::vector<uint8_t>& sps,
                          std::vector<uint8_t>& pps, std::string& profile_level_id) {
  ForEachNalUnit(access_unit.data(), access_unit.size(), [&](NalUnit n) {
    const int type = n.data[0] & 0x1F;
    if (type == 7) {
      sps.assign(n.data, n.data + n.size);
      if (n.size >= 4) {
        char text[8];
        std::snprintf(text, sizeof text, "%02X%02X%02X", n.data[1], n.data[2], n.data[3]);
        profile_level_id = text;
      }
    } else if (type == 8) {
      pps.assign(n.data, n.data + n.size);
    }
  });
  return !sps.empty() && !pps.empty();
}

}  // namespace lcx
