/* A C program that uses the device library through its public headers alone: it opens the
 * adapter, as every program does before its first module call, looks for a QVX-3 in the
 * selected RVL slot and prints its firmware version. Ends with status 0 only when all of that
 * succeeded; a failure is printed with the adapter's two texts. */
#include "bxa7.h"
#include "qvx3.h"

#include <stdio.h>

static int failed(const char *function, int32_t status) {
    printf("Error at %s: status %ld, %s, %s\n", function, (long)status, BXA_7_ErrorMessage(),
           BXA_7_IO_ErrorMessage());
    return 1;
}

int main(void) {
    const uint16_t library = QVX_3_Version();
    uint8_t found = 0;
    uint16_t firmware = 0;
    int32_t status;

    printf("QVX-3 library %d.%02d\n", library >> 8, library & 0xFF);
    if (library >> 8 != QVX_3_VERSION >> 8) return 1;

    status = BXA_7_Open();
    if (status != 0) return failed("BXA_7_Open", status);
    status = QVX_3_Check(&found);
    if (status != 0) return failed("QVX_3_Check", status);
    if (!found) {
        printf("No QVX-3 in the selected RVL slot\n");
        return 1;
    }
    status = QVX_3_FW_Ver(&firmware);
    if (status != 0) return failed("QVX_3_FW_Ver", status);
    printf("QVX-3 found, firmware version %u-%02u\n", (unsigned)(firmware >> 8),
           (unsigned)(firmware & 0xFF));
    return 0;
}
