// How qelt-publish ends when it does not publish.
#include "publish.h"

#include <cstdio>

int Refuse(const std::vector<std::string>& problems) {
    for (const std::string& problem : problems) {
        fprintf(stderr, "qelt-publish: %s\n", problem.c_str());
    }
    fprintf(stderr, "qelt-publish: refused, nothing was published\n");
    return kRefused;
}

int WriteFailed(const std::string& error) {
    fprintf(stderr, "qelt-publish: %s\nqelt-publish: the live version is unchanged\n",
            error.c_str());
    return kWriteFailed;
}
