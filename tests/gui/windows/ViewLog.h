#pragma once
// The small log the log viewer's tests open: eight rows of three gyro columns and one
// accelerometer column; the header's seconds give 8 rows per second (row r at r / 8 s).

namespace pemra::testing {

inline constexpr const char* kViewLog =
    "File Name,VIEW_1.csv\r\nDate,12/07/26\r\nTime,11:00:21\r\nBegin Seconds,100\r\n"
    "End Seconds,101\r\n \r\nSample #,Time (sec),X Gryo,Y Gyro,Z Gyro,X acc,\r\n"
    "1,0,0.5,1.5,-0.25,0.001,\r\n2,0.125,1.25,1.5,-0.25,0.002,\r\n"
    "3,0.25,2.5,1.5,-0.25,0.5,\r\n4,0.375,-1.75,1.5,-0.25,0.25,\r\n"
    "5,0.5,3.125,1.5,-0.25,-0.125,\r\n6,0.625,0.5,1.5,-0.25,0.75,\r\n"
    "7,0.75,1,1.5,-0.25,1,\r\n8,0.875,2,1.5,-0.25,0.0625,\r\n";

}  // namespace pemra::testing
