// temp_files.h - the request layer's temporary files present in /tmp, for
// the tests that check none outlives a request.
#ifndef CGI_REQUEST_TEST_TEMP_FILES_H
#define CGI_REQUEST_TEST_TEMP_FILES_H

#include <dirent.h>

#include <cstring>
#include <string>
#include <vector>

// Names in /tmp that the temporary-file template "/tmp/cgiXXXXXX" produces.
inline std::vector<std::string> leftoverTempFiles() {
    std::vector<std::string> names;
    if (DIR* d = opendir("/tmp")) {
        while (dirent* e = readdir(d))
            if (strncmp(e->d_name, "cgi", 3) == 0) names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

#endif
