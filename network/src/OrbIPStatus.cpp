#include "OrbIPStatus.h"

OrbIPStatus::OrbIPStatus() = default;
OrbIPStatus::OrbIPStatus(const OrbIPStatus&) = default;
OrbIPStatus::OrbIPStatus(OrbIPStatus&&) noexcept = default;
OrbIPStatus& OrbIPStatus::operator=(const OrbIPStatus&) = default;
OrbIPStatus& OrbIPStatus::operator=(OrbIPStatus&&) noexcept = default;
OrbIPStatus::~OrbIPStatus() = default;
