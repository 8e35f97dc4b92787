// cgi_request_main.cpp - the process entry point of a CGI program: runs one
// request through the request layer and exits with the handler's status.
#include "cgi_request_internal.h"

// The arguments are not used; the request comes from the environment and stdin.
int main()
{
    return cgiRunRequest();
}
