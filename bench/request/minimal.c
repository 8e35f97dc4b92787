/* minimal.c - the smallest CGI program that answers like the viewer: the
 * content-type header and the viewer's own page, embedded at build time
 * (PAGE_FILE), in one write. The request benchmark measures zelbrowser.cgi
 * against it. */
#include <stdio.h>

#ifndef PAGE_FILE
#error "build with -DPAGE_FILE='\"path of the page body\"'"
#endif

extern const char page[], page_end[];
__asm__(
    ".section .rodata\n"
    ".global page\npage:\n"
    ".incbin \"" PAGE_FILE
    "\"\n"
    ".global page_end\npage_end:\n"
    ".previous\n");

int main(void)
{
    fputs("Content-type: text/html\r\n\r\n", stdout);
    fwrite(page, 1, (size_t)(page_end - page), stdout);
    return 0;
}
