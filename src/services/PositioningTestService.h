#pragma once

#include "services/TestService.h"

// The positioning service, which moves the camera along three axes: reads of
// the enabled axes, the UDP server port, the position, the velocity and the
// limits; write-backs of the velocity, the soft limits and the azimuth zero;
// clears and restores of the limits on all axes; and two moves that send
// every axis to the position it already has. The tester does not enrol it.
class PositioningTestService : public TestService {
public:
    PositioningTestService(void* ipcHandle, void* logHandle);
    ~PositioningTestService() override;

    bool getEnabledAxes();
    bool getUdpServerPort();
    bool getPosition();
    bool moveToPositionWithSpeedMillidegrees();
    bool moveToPositionWithSpeedPercentage();
    bool getVelocity();
    bool setVelocity();
    bool getSoftPositionLimits();
    bool setSoftPositionLimits();
    bool getImplementationPositionLimits();
    bool clearPositionLimits();
    bool restorePositionLimits();
    bool getSoftVelocityLimits();
    bool setSoftVelocityLimits();
    bool getImplementationVelocityLimits();
    bool clearVelocityLimits();
    bool restoreVelocityLimits();
    bool getAzimuthZero();
    bool setAzimuthZero();

private:
    typedef int32_t (*SoftLimitsRead)(kovra_initiator*, char const*, uint8_t*, int32_t*, int32_t*,
                                      uint8_t*, int32_t*, int32_t*, uint8_t*, int32_t*, int32_t*);
    typedef int32_t (*SoftLimitsWrite)(kovra_initiator*, char const*, uint8_t, int32_t, int32_t,
                                       uint8_t, int32_t, int32_t, uint8_t, int32_t, int32_t);
    typedef int32_t (*AxesRequest)(kovra_initiator*, char const*, int32_t, int32_t, int32_t);

    // Reads the soft limits and, given a write, writes all nine values back.
    bool softLimits(SoftLimitsRead read, SoftLimitsWrite write) const;
    // Sends the request with every axis selected.
    bool onAllAxes(AxesRequest request) const;
};
