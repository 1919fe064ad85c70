#pragma once
// The camera driver as the program uses it: one operation per device-manager call.
// Every operation returns a 32-bit status, 0 = success. Handles are 32-bit integers,
// -1 = none.

#include <cstdint>
#include <string>

namespace ostrelo {

// The seven outputs of the buffer-description call (arguments 3 to 9).
struct RequestBufferInfo {
  int32_t pixelFormat = 0;        // 3
  int32_t size = 0;               // 4: bytes of picture data
  int32_t height = 0;             // 5
  int32_t width = 0;              // 6
  int32_t linePitch = 0;          // 7
  int32_t channelCount = 0;       // 8
  const uint8_t* data = nullptr;  // 9: the pixels, valid while the request is locked
};

// Sees a picture's lines while they are copied out of the driver: lines [first, first +
// count), line first at pixels, the next ones pitch bytes apart, one byte a pixel.
class LineObserver {
 public:
  virtual void Lines(int32_t first, int32_t count, const uint8_t* pixels, int64_t pitch) = 0;
  // Offered each band of a picture copied past the cache, before Lines: an observer that
  // reads the lines while it copies them to `destination` (without padding, by streaming
  // stores) does both and returns true, and is not shown them again; false: nothing done.
  virtual bool CopyLines(int32_t /*first*/, int32_t /*count*/, const uint8_t* /*pixels*/, int64_t /*pitch*/,
                         uint8_t* /*destination*/) {
    return false;
  }

 protected:
  ~LineObserver() = default;
};

// The outputs of the channel-description call (arguments 4 to 6).
struct RequestChannelInfo {
  int32_t channelOffset = 0;  // 4
  int32_t linePitch = 0;      // 5
  int32_t pixelPitch = 0;     // 6: bytes per pixel
};

class CameraDriver {
 public:
  virtual ~CameraDriver() = default;

  virtual int32_t Init(int32_t* deviceManager) = 0;
  virtual int32_t GetDevice(int32_t* device, int32_t searchMode, const std::string& searchString, int32_t deviceNumber,
                            char wildcard) = 0;
  virtual int32_t OpenDevice(int32_t device, int32_t* driver) = 0;
  virtual int32_t FindList(int32_t driver, const std::string& listName, int32_t listType, int32_t flags,
                           int32_t* list) = 0;
  virtual int32_t GetHandle(int32_t list, const std::string& propertyName, int32_t* property) = 0;
  // index 0: current value, -1: maximum, -2: minimum.
  virtual int32_t GetF(int32_t property, double* value, int32_t index) = 0;
  virtual int32_t SetF(int32_t property, double value, int32_t index) = 0;
  virtual int32_t ImageRequestSingle(int32_t driver, int32_t requestControl, int32_t* requestUsed) = 0;
  virtual int32_t ImageRequestWaitFor(int32_t driver, int32_t timeoutMs, int32_t queue, int32_t* requestNumber) = 0;
  virtual int32_t GetImageRequestBufferData(int32_t driver, int32_t requestNumber, RequestBufferInfo* info) = 0;
  virtual int32_t GetImageRequestBufferChannelData(int32_t driver, int32_t requestNumber, int32_t channel,
                                                   RequestChannelInfo* info, char* description,
                                                   int32_t descriptionLength) = 0;
  // Copies width x height pixels, one byte each, lines top down without padding, into
  // destination; never writes more than destinationSize bytes.
  virtual int32_t GetImageRequestBufferImageData(int32_t driver, int32_t requestNumber, int32_t channel,
                                                 int32_t reserved, int32_t width, int32_t height, uint8_t* destination,
                                                 int32_t destinationSize) = 0;
  // The same copy, showing observer every band of lines just before copying it, so that
  // the copy finds the band in the cache: bands in order from line 0, the bytes shown
  // those the copy writes. A driver that cannot show its lines copies them unseen.
  virtual int32_t GetImageRequestBufferImageLines(int32_t driver, int32_t requestNumber, int32_t channel,
                                                  int32_t reserved, int32_t width, int32_t height, uint8_t* destination,
                                                  int32_t destinationSize, LineObserver& /*observer*/) {
    return GetImageRequestBufferImageData(driver, requestNumber, channel, reserved, width, height, destination,
                                          destinationSize);
  }
  virtual int32_t ImageRequestUnlock(int32_t driver, int32_t requestNumber) = 0;
  virtual int32_t CloseDevice(int32_t driver, int32_t device) = 0;
  virtual int32_t Close() = 0;
};

}  // namespace ostrelo
