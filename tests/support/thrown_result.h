// The Cfx::CfxResult a call throws; a failure of the test, and S_OK, when it throws none.
#pragma once

#include <gtest/gtest.h>

#include "cfx/cfx.h"

namespace cvtest {

template <class Body>
Cfx::CfxResult Thrown(Body&& body) {
    try {
        body();
    } catch (const Cfx::CfxResult& r) {
        return r;
    }
    ADD_FAILURE() << "nothing thrown";
    return Cfx::CfxResult(S_OK);
}

}  // namespace cvtest
