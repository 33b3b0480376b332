// The eleven functions of the adapter library, exported under their plain names. Each runs
// the process's one simulated adapter under a lock, so that even callers that break the
// one-thread rule cannot corrupt it.
#include "bxa7.h"

#include "session.h"

#include <mutex>

namespace {

std::mutex g_lock;

bxa7sim::Session &adapter() {
    // Never destroyed: callers may still use the adapter from their own exit handlers.
    static bxa7sim::Session *session = new bxa7sim::Session(bxa7sim::systemHost());
    return *session;
}

} // namespace

extern "C" {

BXA_7_API uint16_t BXA_7_CALL BXA_7_Version(void) {
    std::lock_guard<std::mutex> hold(g_lock);
    return adapter().version();
}

BXA_7_API int32_t BXA_7_CALL BXA_7_Open(void) {
    std::lock_guard<std::mutex> hold(g_lock);
    return adapter().open();
}

BXA_7_API int32_t BXA_7_CALL BXA_7_Flush_LPT(void) {
    std::lock_guard<std::mutex> hold(g_lock);
    return adapter().flush();
}

BXA_7_API int32_t BXA_7_CALL BXA_7_GetSlot(uint8_t *slot, int32_t a, int32_t b) {
    std::lock_guard<std::mutex> hold(g_lock);
    return adapter().getSlot(slot, a, b);
}

BXA_7_API int32_t BXA_7_CALL BXA_7_SetSlot(uint8_t slot, int32_t a, int32_t b) {
    std::lock_guard<std::mutex> hold(g_lock);
    return adapter().setSlot(slot, a, b);
}

BXA_7_API const char *BXA_7_CALL BXA_7_ErrorMessage(void) {
    std::lock_guard<std::mutex> hold(g_lock);
    return adapter().errorMessage();
}

BXA_7_API const char *BXA_7_CALL BXA_7_IO_ErrorMessage(void) {
    std::lock_guard<std::mutex> hold(g_lock);
    return adapter().ioErrorMessage();
}

BXA_7_API int32_t BXA_7_CALL BXA_7_Check(int32_t bus, uint8_t *found) {
    std::lock_guard<std::mutex> hold(g_lock);
    return adapter().check(bus, found);
}

BXA_7_API int32_t BXA_7_CALL BXA_7_Send(int32_t bus, const uint8_t *data, int32_t count,
                                        int32_t last) {
    std::lock_guard<std::mutex> hold(g_lock);
    return adapter().send(bus, data, count, last);
}

BXA_7_API int32_t BXA_7_CALL BXA_7_Receive(int32_t bus, uint8_t *data, int32_t count,
                                           int32_t last) {
    std::lock_guard<std::mutex> hold(g_lock);
    return adapter().receive(bus, data, count, last);
}

BXA_7_API int32_t BXA_7_CALL BXA_7_ReceiveString(int32_t bus, char *text, int32_t limit,
                                                 int32_t last) {
    std::lock_guard<std::mutex> hold(g_lock);
    return adapter().receiveString(bus, text, limit, last);
}

} // extern "C"
