/* minimal.c - the smallest CGI program that answers like the viewer: one
 * content-type header and a page of PAGE_BYTES bytes, in one write. The
 * request benchmark measures zelbrowser.cgi against it. */
#include <stdio.h>
#include <string.h>

#ifndef PAGE_BYTES
#error "build with -DPAGE_BYTES=<size of the viewer's page body>"
#endif

static char page[PAGE_BYTES];

int main(void)
{
    memset(page, 'x', sizeof page);
    fputs("Content-type: text/html\r\n\r\n", stdout);
    fwrite(page, 1, sizeof page, stdout);
    return 0;
}
