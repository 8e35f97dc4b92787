// device_page.h - what the device pages (search, upload, disk map, system)
// share: reaching the device core service and admitting the user, the frame
// of an HTML page in the viewer's look, JSON answers for the pages' scripts,
// and reading numbers from the form.
#ifndef DEVICE_PAGE_H
#define DEVICE_PAGE_H

#include <cstdint>
#include <cstdio>

namespace page {

// The device objects of key 1632, valid after admit() succeeded.
struct Device {
    int semid = -1;
    int msgid = -1;
    void* cfg = nullptr;   // attached configuration segment
    uint32_t cameras = 0;  // cameras the user may see: bit i for camera i+1
};

// Cameras of the device: 16 analog (1-16), then 4 IP (17-20).
constexpr int kCameras = 20;

// The lowest user level (highest number) the page admits; each program
// defines it. The helper's cgiOnInit opens the device objects and admits
// the request's user when their level is this or more privileged (a lower
// number); otherwise it writes the refusal page (or an error when the
// device service is not there) and cancels the request, so that nothing of
// a refused request is read or handed on.
extern const int required_level;

// The device opened for the request.
const Device& device();

// The form field as an unsigned 32-bit number (decimal), or `fallback` when
// it is absent, empty or not such a number.
uint32_t form_u32(const char* name, uint32_t fallback);

// True when the form field "do" names this action.
bool action_is(const char* name);

// Writes the header and the opening of a page: head in the viewer's look,
// its script, the navigation and the levels the page admits.
void begin(const char* title, const char* script);

// Closes what begin() opened.
void end();

// One JSON object written to the response as it is built. Members keep their
// order; nested objects and arrays are opened and closed explicitly.
class Json {
  public:
    Json();   // writes the header and "{"
    ~Json();  // closes the outer object
    Json(const Json&) = delete;
    Json& operator=(const Json&) = delete;

    Json& num(const char* key, long long value);
    Json& str(const char* key, const char* value);
    Json& open(const char* key, char bracket);  // '{' or '['; key null inside an array
    Json& close(char bracket);                  // '}' or ']'
    Json& item(long long value);                // a number inside an array

  private:
    void separate(const char* key);
    bool first_ = true;  // nothing written yet at this level
};

}  // namespace page

#endif
