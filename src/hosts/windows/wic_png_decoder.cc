#include "hosts/windows/wic_png_decoder.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <wincodec.h>
// clang-format on

#include <cstring>

#include "hosts/png_chunks.h"

namespace vesmara {
namespace {

// The imaging factory of Windows 8 and later, asked for the original
// factory interface; the RGBA pixel format the carriers read.
constexpr CLSID kImagingFactory2 = {0x317d06e8, 0x5f24, 0x433d, {0xbd, 0xf7, 0x79, 0xce, 0x68, 0xd8, 0xab, 0xc2}};
constexpr IID kImagingFactoryInterface = {0xec5ec8a9, 0xc395, 0x4314, {0x9c, 0x77, 0x54, 0xd7, 0xa9, 0x35, 0xff, 0x70}};
constexpr GUID kPixelFormat32bppRgba = {0xf5c7ad2d, 0x6a8d, 0x43dd, {0xa7, 0xa8, 0xa2, 0x99, 0x35, 0x26, 0x1a, 0xe9}};

// One COM interface, released when the decode ends.
template <typename T>
class Released {
 public:
  Released() = default;
  ~Released() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  Released(const Released&) = delete;
  Released& operator=(const Released&) = delete;

  T* get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  T** out() { return &pointer_; }
  void** outVoid() { return reinterpret_cast<void**>(&pointer_); }

 private:
  T* pointer_ = nullptr;
};

// COM on the calling thread for the length of one decode. A thread already
// in the single-threaded model keeps it (RPC_E_CHANGED_MODE) and is not
// uninitialised.
class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

  bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT result_;
};

// A stream over a movable global memory block holding a copy of `bytes`;
// the stream frees the block when released.
PngDecodeStatus openStream(std::span<const std::uint8_t> bytes, Released<IStream>& stream) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (block == nullptr) return PngDecodeStatus::InputAllocationFailed;
  void* locked = GlobalLock(block);
  if (locked == nullptr) {
    GlobalFree(block);
    return PngDecodeStatus::InputLockFailed;
  }
  std::memcpy(locked, bytes.data(), bytes.size());
  GlobalUnlock(block);
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, stream.out()))) {
    GlobalFree(block);
    return PngDecodeStatus::StreamFailed;
  }
  return PngDecodeStatus::Ok;
}

}  // namespace

PngDecodeStatus WicPngDecoder::decodePixels(std::span<const std::uint8_t> png, std::uint32_t width,
                                            std::uint32_t height, std::vector<std::uint8_t>& rgba) {
  rgba.clear();
  const ComScope com;
  if (!com.usable()) return PngDecodeStatus::ComInitFailed;

  Released<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(kImagingFactory2, nullptr, CLSCTX_INPROC_SERVER, kImagingFactoryInterface,
                              factory.outVoid()))) {
    return PngDecodeStatus::Unavailable;
  }
  Released<IStream> stream;
  if (const PngDecodeStatus opened = openStream(png, stream); opened != PngDecodeStatus::Ok) return opened;

  Released<IWICBitmapDecoder> decoder;
  if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, decoder.out()))) {
    return PngDecodeStatus::DecodeFailed;
  }
  // The imaging component shows an animated PNG as its default image only,
  // one frame; the animation control chunk is what makes it several.
  UINT frames = 0;
  if (FAILED(decoder->GetFrameCount(&frames)) || frames != 1 || isAnimatedPng(png)) {
    return PngDecodeStatus::FrameCountInvalid;
  }
  Released<IWICBitmapFrameDecode> frame;
  UINT frame_width = 0;
  UINT frame_height = 0;
  if (FAILED(decoder->GetFrame(0, frame.out())) || FAILED(frame->GetSize(&frame_width, &frame_height)) ||
      frame_width != width || frame_height != height) {
    return PngDecodeStatus::DimensionsChanged;
  }
  Released<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(converter.out())) ||
      FAILED(converter->Initialize(frame.get(), kPixelFormat32bppRgba, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return PngDecodeStatus::ConversionFailed;
  }
  const std::size_t stride = static_cast<std::size_t>(width) * 4;
  rgba.resize(stride * height);
  if (FAILED(converter->CopyPixels(nullptr, static_cast<UINT>(stride), static_cast<UINT>(rgba.size()), rgba.data()))) {
    rgba.clear();
    return PngDecodeStatus::PixelCopyFailed;
  }
  return PngDecodeStatus::Ok;
}

}  // namespace vesmara
