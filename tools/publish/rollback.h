// qelt-publish --rollback TREE [--sign KEYFILE]...
#pragma once

#include <string>
#include <vector>

#include "publish.h"

// Makes the version before the live one live again and removes the one it leaves; a signed
// tree only with keys, as a new version of links under a new sequence number. Returns the
// exit code, having said why on standard error.
int RollBack(const std::string& tree, const std::vector<EVP_PKEY*>& keys);
