#include "datalog/SampleReader.h"

namespace pemra {

void RegisterSampleReader::ReadSample(const ChannelSet& channels, SampleReadings& readings) {
  for (int k = 1; k <= kLogChannels; ++k) {
    if (!channels[static_cast<size_t>(k)]) continue;
    access_.ReadRegister(static_cast<int16_t>(k));
    ChannelReading& reading = readings[static_cast<size_t>(k)];
    reading.raw = access_.RawValue;
    reading.scaled = access_.ScaledValue;
    reading.newData = access_.NewDataFlag > 0;
  }
}

}  // namespace pemra
