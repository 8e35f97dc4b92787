/* device_info.c - a small device CGI program in C, built only against the
 * installed request layer and device library. It answers a plain-text page
 * with the user's access level, the device model, two form fields, a cookie
 * and what an uploaded file held, and sets a cookie of its own.
 *
 * The upload is streamed: the request layer hands every piece of a
 * multipart part to cgiOnRecvFormFile, which only counts it,
 * so the program's memory stays fixed whatever the file's size. */
#include <stdio.h>
#include <string.h>
#include <sys/shm.h>
#include <sys/types.h>

#include "cgi_cfg_util.h"
#include "cgi_request.h"
#include "shm.h"
#include "srv_cgi_cfg.h"

#define DEVICE_KEY 1632 /* segment, semaphore set and queue of the core service */

/* What the upload hook saw: pieces and bytes of every part. */
static struct {
    long pieces;
    long bytes;
    int ends; /* pieces marked as the last of their part */
} upload;

int cgiOnInit(void)
{
    return 1;
}

/* Counts one piece of a part's body; 0 lets decoding go on. */
int cgiOnRecvFormFile(char* pbuffer, int len, int end)
{
    (void)pbuffer;
    upload.pieces++;
    upload.bytes += len;
    upload.ends += end != 0;
    return 0;
}

/* Prints the user's level and the model record; 255 when the device
 * objects cannot be reached or the user is not known. */
static int print_device(void)
{
    cfg_model model;
    int level;
    int semid = get_sem(DEVICE_KEY);
    void* shm = semid < 0 ? NULL : get_shm_ptr(DEVICE_KEY);
    if (shm == NULL) {
        printf("device: unreachable\n");
        return 255;
    }
    level = getUserLevel(shm, semid, cgiRemoteUser);
    read_config_model(shm, semid, &model);
    printf("user: %s level %d\n", cgiRemoteUser, level);
    printf("model: %u channels %u brand %u\n", model.g_model, model.g_channelAmt, model.g_brand);
    shmdt(shm);
    return level < 0 ? 255 : 0;
}

int cgiMain(void)
{
    char note[64];
    char cookie[64];
    char filename[128] = "";
    int count = 0;
    int status;

    cgiHeaderCookieSetString("visited", "yes", 3600, "/", "");
    cgiHeaderContentType("text/plain");
    status = print_device();
    if (cgiFormStringNoNewlines("note", note, sizeof note) == cgiFormNotFound)
        strcpy(note, "(none)");
    cgiFormIntegerBounded("count", &count, 0, 100, 1);
    if (cgiCookieString("session", cookie, sizeof cookie) != cgiFormSuccess)
        strcpy(cookie, "(none)");
    cgiFormFileName("file", filename, sizeof filename);
    printf("note: %s\ncount: %d\ncookie: %s\n", note, count, cookie);
    printf("upload: %s; %ld bytes in %ld pieces, %d ends\n", filename, upload.bytes, upload.pieces,
           upload.ends);
    return status;
}
