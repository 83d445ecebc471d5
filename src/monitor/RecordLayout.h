#pragma once

// Where the fields of the tracker's navigation and device records lie: byte
// offsets into the records as they arrive, little-endian.

#include <cstddef>
#include <cstdint>

namespace rlv::monitor {

// A calendar date and time of day in UTC.
struct Civil {
  int64_t year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
};

// Seconds since 1970 (the records' times) as a UTC calendar date, in 64 bits.
Civil CivilFromSeconds(int64_t seconds);

namespace layout {

// Navigation record offsets.
constexpr size_t kNavTime = 0;
constexpr size_t kNavLat = 4;
constexpr size_t kNavLon = 8;
constexpr size_t kNavSats = 12;
constexpr size_t kNavHdop = 14;
constexpr size_t kNavAltitude = 15;
constexpr size_t kNavSpeed = 17;
constexpr size_t kNavCourse = 19;
constexpr size_t kNavOdometer = 21;
constexpr size_t kNavInput1 = 29;
constexpr size_t kNavFuelLevel1 = 33;
constexpr size_t kNavFuelTemp1 = 37;
constexpr size_t kNavKey = 40;
constexpr size_t kNavTemp1 = 46;
constexpr size_t kNavTemp2 = 47;
constexpr size_t kNavValid = 48;
constexpr size_t kNavOutput = 50;
constexpr size_t kNavFlags = 58;  // bit 0: object moving; bit 6: connected to its server
constexpr size_t kNavReceiver = 59;
constexpr size_t kNavInternalTemp = 60;
constexpr size_t kNavAccel = 61;
constexpr size_t kNavWorkTime = 67;
constexpr size_t kNavCsq = 71;
constexpr size_t kNavTemp3 = 155;

// Device record offsets.
constexpr size_t kDevId = 0;
constexpr size_t kDevImei = 2;
constexpr size_t kDevImeiSize = 16;
constexpr size_t kDevVersion = 18;
constexpr size_t kDevType = 19;
constexpr size_t kDevBuild1 = 20;
constexpr size_t kDevBuild2 = 22;
constexpr size_t kDevBuild3 = 24;
constexpr size_t kDevRegistration = 25;
constexpr size_t kDevPeriod1 = 51;
constexpr size_t kDevBacklog = 74;
constexpr size_t kDevPeriod2 = 90;
constexpr size_t kDevInputTypes = 97;
constexpr size_t kDevModbus = 162;
constexpr size_t kDevOperator = 214;
constexpr size_t kDevDiagA = 216;
constexpr size_t kDevDiagB = 218;
constexpr size_t kDevGnssVersion = 233;

}  // namespace layout

}  // namespace rlv::monitor
