// upload.cpp - upload.cgi: hands a file upload to the device core service
// through the upload status record while the request layer decodes the
// body. The upload hook claims the record (fup_occupy), resets it
// (fup_init), and announces the bytes in pieces of up to 64 KiB, waiting
// each time until the service has taken the piece (fup_tavik_recv). The
// program holds no copy of the file, so its memory stays fixed whatever the
// file's size.
//   GET                 the page
//   GET  do=status      the upload status record as JSON (the page polls it)
//   POST do=cancel      asks the service to abandon the upload (fup_cancel)
//   POST multipart body the upload: one part, the file; JSON result
#include <cstdint>
#include <cstring>

#include "cgi_cfg_util.h"
#include "cgi_request.h"
#include "device_page.h"

const int page::required_level = 1;  // managers and above upload

namespace {

constexpr uint32_t kPiece = 64 * 1024;      // bytes announced to the service at a time
constexpr int kTakeTries = 50;              // waits of about 20 ms for one piece
constexpr int kClosingBytes = 8;            // "\r\n--" BOUNDARY "--\r\n" after the file
constexpr uint32_t kMaxUpload = INT32_MAX;  // total_size is a signed 32-bit number

// How the hand-over stands; the hook fills it, cgiMain reports it.
struct Upload {
    bool claimed = false;           // the hook has asked for the record
    const char* failure = nullptr;  // why the bytes stopped reaching the device
    uint32_t total = 0;             // file size announced with fup_init
    uint32_t handed = 0;            // bytes the service has taken
    uint32_t pending = 0;           // bytes received but not yet announced
    uint32_t piece = 0;             // number of the last piece announced (never 0)
};
Upload g_upload;

data_ul_stat* record(const page::Device& dev)
{
    return reinterpret_cast<data_ul_stat*>(static_cast<unsigned char*>(dev.cfg) +
                                           CFG_UL_STAT_OFFSET);
}

// Claims the record and resets it for a file of the size the body announces.
// The file is the body's only part, so it is what is left of the body less
// the closing delimiter.
void claim(const page::Device& dev)
{
    g_upload.claimed = true;
    const long long total =
        static_cast<long long>(cgiFormFileLength) - strlen(cgiMultipartBoundary) - kClosingBytes;
    if (total < 0 || total > kMaxUpload) {
        g_upload.failure = "bad_body";
        return;
    }
    switch (fup_occupy(dev.cfg, dev.semid, dev.msgid)) {
        case FUP_ACCEPTED:
            g_upload.total = static_cast<uint32_t>(total);
            fup_init(dev.cfg, dev.semid, static_cast<int>(total));
            return;
        case FUP_BUSY:
            g_upload.failure = "busy";
            return;
        case FUP_REFUSED:
            g_upload.failure = "refused";
            return;
        default:
            g_upload.failure = "no_answer";
            return;
    }
}

// Announces the pending bytes as one piece (size and a nonzero buffer
// number, under the lock) and waits until the service has taken it. On the
// device the buffer that buf_id names is the service's; the simulator only
// counts the bytes.
void hand_over(const page::Device& dev)
{
    if (g_upload.pending == 0 || g_upload.failure != nullptr)
        return;
    if (fup_is_cancelled(dev.cfg) != 0) {
        g_upload.failure = "cancelled";
        return;
    }
    fup_lock(dev.semid);
    record(dev)->cur_size = g_upload.pending;
    record(dev)->buf_id = ++g_upload.piece;
    fup_unlock(dev.semid);
    for (int i = 0; i < kTakeTries; ++i) {
        if (fup_tavik_recv(dev.cfg, dev.semid, dev.msgid, static_cast<int>(g_upload.pending))) {
            g_upload.handed += g_upload.pending;
            g_upload.pending = 0;
            return;
        }
    }
    g_upload.failure = "not_taken";
    fup_cancel(dev.cfg, dev.semid, dev.msgid);
}

void write_status(const page::Device& dev)
{
    data_ul_stat u;
    fup_get_status(dev.cfg, dev.semid, &u);
    page::Json()
        .num("status", u.status)
        .num("total", u.total_size)
        .num("received", u.recv_size)
        .num("cancel", u.cancel);
}

// The outcome of an upload request, after the whole body was decoded.
void finish(const page::Device& dev)
{
    hand_over(dev);  // a body of whole 1024-byte chunks ends without a last chunk
    if (g_upload.failure == nullptr && !g_upload.claimed)
        g_upload.failure = "no_file";
    if (g_upload.failure == nullptr && g_upload.handed != g_upload.total) {
        g_upload.failure = "bad_body";  // more than one part, or a body cut short
        fup_cancel(dev.cfg, dev.semid, dev.msgid);
    }
    data_ul_stat u;
    fup_get_status(dev.cfg, dev.semid, &u);
    page::Json()
        .str("result", g_upload.failure ? g_upload.failure : "done")
        .num("total", g_upload.total)
        .num("handed", g_upload.handed)
        .num("received", u.recv_size);
}

void write_page()
{
    page::begin("Upload", "upload.js");
    fputs(
        "<form id=\"upload-form\"><input type=\"file\" id=\"file\" required> "
        "<button type=\"submit\">Upload</button> "
        "<button type=\"button\" id=\"cancel\">Cancel</button></form>\n"
        "<p><progress id=\"upload-progress\" max=\"100\" value=\"0\"></progress> "
        "<span id=\"upload-phase\"></span></p>\n"
        "<p id=\"upload-note\" class=\"note\"></p>\n"
        "<section><h2>Device</h2><p id=\"device-status\" class=\"mono\"></p></section>\n",
        cgiOut);
    page::end();
}

}  // namespace

// Takes the body piece by piece. It never aborts the decoding: a request
// whose bytes cannot reach the device still gets its JSON answer.
int cgiOnRecvFormFile(char*, int len, int)
{
    const page::Device& dev = page::device();
    if (!g_upload.claimed)
        claim(dev);
    if (g_upload.failure != nullptr)
        return 0;
    g_upload.pending += static_cast<uint32_t>(len);
    if (g_upload.pending >= kPiece)
        hand_over(dev);
    return 0;
}

int cgiMain(void)
{
    const page::Device& dev = page::device();
    const bool post = cgiStrEqNc(cgiRequestMethod, "POST");
    if (post && cgiStrEqNc(cgiContentType, "multipart/form-data"))
        finish(dev);
    else if (post && page::action_is("cancel"))
        page::Json().num("cancelled", fup_cancel(dev.cfg, dev.semid, dev.msgid) == 0);
    else if (page::action_is("status"))
        write_status(dev);
    else
        write_page();
    return 0;
}
