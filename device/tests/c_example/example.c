/* A C program that uses the device library through its public header alone: it prints the
 * library's version and the corner frequency of a low-pass filter setting, and fails when the
 * library is not the one the header describes. Needs no module and no open adapter. */
#include "qvx3.h"

#include <stdio.h>

int main(void) {
    const uint16_t version = QVX_3_Version();
    float frequency = 0.0f;
    float damping = 0.0f;

    printf("QVX-3 %d.%02d\n", version >> 8, version & 0xFF);
    if (version >> 8 != QVX_3_VERSION >> 8) return 1;

    QVX_3_GetLPF_Parameters(4, 2, &frequency, &damping);
    printf("Alpha 4, Beta 2: %.3f Hz, damping %.3f\n", frequency, damping);
    return damping == 1.0f && frequency == QVX_3_GetLPF_Frequency(4, 2) ? 0 : 1;
}
