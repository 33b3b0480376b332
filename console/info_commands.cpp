// The commands that select the RVL slot, look for the module and read what it reports about
// itself: identification, supplies and temperature, clocks.
#include "bxa7.h"
#include "commands.h"
#include "console.h"
#include "qvx3.h"
#include "term.h"

namespace {

// Prints `label`, then "n/a" for a reading that is below zero or not a number, else the
// reading times `scale` with `format`. The test is made on the reading as delivered.
void PrintReading(const char *label, float reading, double scale, const char *format) {
    term::printf("%s", label);
    if (!(reading >= 0.0f)) {
        term::printf("n/a");
    } else {
        term::printf(format, reading * scale);
    }
}

} // namespace

void ReadSlot() {
    PrintHeading("Getting the RVL slot number:\n");
    uint8_t slot = 0;
    if (Failed(BXA_7_GetSlot(&slot, 1, 0), "BXA_7_GetSlot")) return;
    term::printf("RVL slot number: %02Xh (%u)\n", slot, slot);
}

void SetSlot() {
    PrintHeading("Setting the RVL slot number:\n");
    term::printf("Enter the new RVL slot number: ");
    // A reply that is no number is refused like a number out of range: nothing is sent.
    uint32_t slot = 0;
    const Entry entry = ReadUnsigned(slot, 10);
    if (entry == Entry::Abandoned) return;
    if (entry == Entry::Wrong || slot >= 0x100) {
        term::printf("Wrong value specified! The RVL slot number must be lower than 100h (256)\n");
        return;
    }
    if (Failed(BXA_7_SetSlot(static_cast<uint8_t>(slot), 1, 0), "BXA_7_SetSlot")) return;
    if (g_debugMode) {
        term::printf("RVL slot number set to %02Xh (%u)\n", static_cast<unsigned>(slot),
                     static_cast<unsigned>(slot));
    }
}

void ScanBus() {
    PrintHeading("Scanning the bus for the device:\n");
    uint8_t found = 0;
    const int32_t status = QVX_3_Check(&found);
    // The result or the error report replaces whatever the current row holds.
    term::gotoxy(1, term::wherey());
    term::clreol();
    if (Failed(status, "QVX_3_Check")) return;
    term::printf("Device %s\n", found ? "found" : "not found");
    if (g_debugMode) term::printf("Scan finished\n");
}

void ShowFirmwareDate() {
    PrintHeading("Getting firmware date:\n");
    char date[20] = "";
    if (Failed(QVX_3_FW_Date(date), "QVX_3_FW_Date")) return;
    date[sizeof date - 1] = '\0'; // whatever the adapter stored, the text ends in the buffer
    term::printf("Firmware date: %s\n", date);
}

void ShowFirmwareVersion() {
    PrintHeading("Getting firmware version:\n");
    uint16_t version = 0;
    if (Failed(QVX_3_FW_Ver(&version), "QVX_3_FW_Ver")) return;
    term::printf("Firmware version: %u-%02u\n", static_cast<unsigned>(version >> 8),
                 static_cast<unsigned>(version & 0xFF));
}

void ShowProductId() {
    PrintHeading("Getting product identification:\n");
    char id[84] = "";
    if (Failed(QVX_3_Prod_ID(id), "QVX_3_prod_ID")) return;
    id[sizeof id - 1] = '\0';
    term::printf("Product identification: %s\n", id);
}

void ShowProductNumber() {
    PrintHeading("Getting product number:\n");
    uint32_t number = 0;
    if (Failed(QVX_3_Prod_No(&number), "QVX_3_prod_No")) return;
    term::printf("Product number: %u\n", static_cast<unsigned>(number));
}

void ShowHousekeeping() {
    PrintHeading("Getting housekeeping data:\n");
    float supply5V = 0.0f;
    float supply3V = 0.0f;
    float kelvin = 0.0f;
    if (Failed(QVX_3_Get5V(&supply5V), "QVX_3_Get5V") ||
        Failed(QVX_3_Get3V(&supply3V), "QVX_3_Get3V") ||
        Failed(QVX_3_GetTemp(&kelvin), "QVX_3_GetTemp")) {
        return;
    }
    PrintReading("5V: ", supply5V, 1.0, "%+.3fV");
    PrintReading(",\t3V: ", supply3V, 1.0, "%+.3fV");
    term::printf(",\tTemperature: ");
    if (!(kelvin >= 0.0f)) {
        term::printf("n/a\n");
    } else {
        term::printf("%+.2f%sC\n", static_cast<double>(kelvin) - 273.15, term::degreeSign());
    }
}

void ShowClocks() {
    PrintHeading("Getting clock frequencies:\n");
    float cpu = 0.0f;
    float peripheral = 0.0f;
    float adc = 0.0f;
    float dac = 0.0f;
    if (Failed(QVX_3_GetClkCPU(&cpu), "QVX_3_GetClkCPU") ||
        Failed(QVX_3_GetClkPer(&peripheral), "QVX_3_GetClkPer") ||
        Failed(QVX_3_GetClkADC(&adc), "QVX_3_GetClkADC") ||
        Failed(QVX_3_GetClkDAC(&dac), "QVX_3_GetClkDAC")) {
        return;
    }
    PrintReading("CPU: ", cpu, 0.000001, "%.3fMHz");
    PrintReading(",\tPeriph.: ", peripheral, 0.000001, "%.3fMHz");
    PrintReading(",\tADC: ", adc, 0.000001, "%.3fMHz");
    PrintReading(",\tDAC: ", dac, 0.001, "%.3fkHz");
    term::printf("\n");
}
