#pragma once
// A camera that passes every call on to another one: a stand-in for measuring or testing
// derives from it and overrides only the calls it changes.

#include <cstdint>
#include <string>

#include "shell/CameraDriver.h"

namespace ostrelo {

class ForwardingCamera : public CameraDriver {
 public:
  explicit ForwardingCamera(CameraDriver& inner) : inner_(inner) {}

  int32_t Init(int32_t* m) override { return inner_.Init(m); }
  int32_t GetDevice(int32_t* d, int32_t mode, const std::string& s, int32_t n, char w) override {
    return inner_.GetDevice(d, mode, s, n, w);
  }
  int32_t OpenDevice(int32_t d, int32_t* drv) override { return inner_.OpenDevice(d, drv); }
  int32_t FindList(int32_t drv, const std::string& name, int32_t type, int32_t flags, int32_t* list) override {
    return inner_.FindList(drv, name, type, flags, list);
  }
  int32_t GetHandle(int32_t list, const std::string& name, int32_t* p) override {
    return inner_.GetHandle(list, name, p);
  }
  int32_t GetF(int32_t p, double* v, int32_t i) override { return inner_.GetF(p, v, i); }
  int32_t SetF(int32_t p, double v, int32_t i) override { return inner_.SetF(p, v, i); }
  int32_t ImageRequestSingle(int32_t drv, int32_t c, int32_t* used) override {
    return inner_.ImageRequestSingle(drv, c, used);
  }
  int32_t ImageRequestWaitFor(int32_t drv, int32_t t, int32_t q, int32_t* r) override {
    return inner_.ImageRequestWaitFor(drv, t, q, r);
  }
  int32_t GetImageRequestBufferData(int32_t drv, int32_t r, RequestBufferInfo* i) override {
    return inner_.GetImageRequestBufferData(drv, r, i);
  }
  int32_t GetImageRequestBufferChannelData(int32_t drv, int32_t r, int32_t c, RequestChannelInfo* i, char* d,
                                           int32_t n) override {
    return inner_.GetImageRequestBufferChannelData(drv, r, c, i, d, n);
  }
  int32_t GetImageRequestBufferImageData(int32_t drv, int32_t r, int32_t c, int32_t x, int32_t w, int32_t h,
                                         uint8_t* dst, int32_t size) override {
    return inner_.GetImageRequestBufferImageData(drv, r, c, x, w, h, dst, size);
  }
  int32_t ImageRequestUnlock(int32_t drv, int32_t r) override { return inner_.ImageRequestUnlock(drv, r); }
  int32_t CloseDevice(int32_t drv, int32_t d) override { return inner_.CloseDevice(drv, d); }
  int32_t Close() override { return inner_.Close(); }

 protected:
  CameraDriver& inner_;
};

}  // namespace ostrelo
