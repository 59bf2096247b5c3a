// Test helper: OpenH264's decoder (the same library as the encoder, loaded
// at run time) as an independent check of what decoders make of a stream.
#pragma once

#include <wels/codec_api.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/dynamic_library.h"

namespace lcx::testing_h264 {

class TestDecoder {
 public:
  TestDecoder() {
    library_ = DynamicLibrary::Open({"libopenh264.so.7", "libopenh264.so"});
    if (!library_) return;
    auto create = reinterpret_cast<long (*)(ISVCDecoder**)>(library_.Symbol("WelsCreateDecoder"));
    destroy_ = reinterpret_cast<void (*)(ISVCDecoder*)>(library_.Symbol("WelsDestroyDecoder"));
    if (!create || !destroy_ || create(&decoder_) != 0 || !decoder_) return;
    SDecodingParam param;
    std::memset(&param, 0, sizeof param);
    param.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
    if (decoder_->Initialize(&param) != 0) {
      destroy_(decoder_);
      decoder_ = nullptr;
    }
  }
  ~TestDecoder() {
    if (decoder_) {
      decoder_->Uninitialize();
      destroy_(decoder_);
    }
  }
  bool ok() const { return decoder_ != nullptr; }

  // Decodes one access unit; false on any decoding error. `luma` gets the
  // picture's Y plane (width x height, no padding) when one is output.
  bool Decode(const std::vector<uint8_t>& au, std::vector<uint8_t>& luma) {
    unsigned char* planes[3] = {};
    SBufferInfo info;
    std::memset(&info, 0, sizeof info);
    const DECODING_STATE state = decoder_->DecodeFrameNoDelay(au.data(), static_cast<int>(au.size()), planes, &info);
    luma.clear();
    if (state != dsErrorFree) return false;
    if (info.iBufferStatus != 1) return true;
    const int w = info.UsrData.sSystemBuffer.iWidth, h = info.UsrData.sSystemBuffer.iHeight;
    const int stride = info.UsrData.sSystemBuffer.iStride[0];
    for (int y = 0; y < h; ++y) luma.insert(luma.end(), planes[0] + y * stride, planes[0] + y * stride + w);
    return true;
  }

 private:
  DynamicLibrary library_;
  ISVCDecoder* decoder_ = nullptr;
  void (*destroy_)(ISVCDecoder*) = nullptr;
};

}  // namespace lcx::testing_h264
