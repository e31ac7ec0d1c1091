/* A driver library of the other architecture than the build's own (an i686 library for
   the x86_64 build and the reverse), with the eight driver names: the loader refuses it,
   which is what an operator meets with the vendor's 32-bit library beside a 64-bit
   program. Its entry points are never reached. */
#include <stdint.h>

#define DRIVER_CALL __stdcall

uint32_t DRIVER_CALL CAN_Init(uint16_t btr0btr1, int frameType) { (void)btr0btr1; (void)frameType; return 0; }
uint32_t DRIVER_CALL CAN_Close(void) { return 0; }
uint32_t DRIVER_CALL CAN_Status(void) { return 0; }
uint32_t DRIVER_CALL CAN_Write(void* msg) { (void)msg; return 0; }
uint32_t DRIVER_CALL CAN_Read(void* msg) { (void)msg; return 0x20; }
uint32_t DRIVER_CALL CAN_VersionInfo(char* text) { (void)text; return 0; }
uint32_t DRIVER_CALL CAN_SpecialFunktion(unsigned long function, int param) { (void)function; (void)param; return 0; }
uint32_t DRIVER_CALL CAN_ResetClient(void) { return 0; }
