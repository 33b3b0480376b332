// Library version and the module's identification.
#include "qvx3.h"

#include "bxa7.h"
#include "convert.h"
#include "transaction.h"

// The module sends registers least significant byte first; the identification registers are
// received straight into the caller's integers, which is right on little-endian hosts only.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the identification registers are received straight into little-endian integers"
#endif

using namespace qvx3;

uint16_t QVX_3_CALL QVX_3_Version(void) {
    return QVX_3_VERSION;
}

int32_t QVX_3_CALL QVX_3_Check(uint8_t *found) {
    int32_t status = BXA_7_Check(kBus, found);
    if (status != 0 || *found == 0) return status;
    uint16_t identity = 0;
    status = readConverted<CMD_Check>(&identity, le16);
    if (status == 0) *found = identity == kIdentity ? 1 : 0;
    return status;
}

int32_t QVX_3_CALL QVX_3_FW_Ver(uint16_t *version) {
    static_assert(readShape(CMD_FW_Ver).length == sizeof *version);
    return readRegister(CMD_FW_Ver, version);
}

int32_t QVX_3_CALL QVX_3_FW_Date(char *text) {
    return readText(CMD_FW_Date, text);
}

int32_t QVX_3_CALL QVX_3_Prod_ID(char *text) {
    return readText(CMD_Prod_ID, text);
}

int32_t QVX_3_CALL QVX_3_Prod_No(uint32_t *number) {
    static_assert(readShape(CMD_Prod_No).length == sizeof *number);
    return readRegister(CMD_Prod_No, number);
}
