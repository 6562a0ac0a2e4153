#include "services/PositioningTestService.h"

namespace {

// Selects an axis in a move, a velocity write, a clear or a restore.
int32_t const kAxis = 1;
// The trailing constant of the moves and of the velocity write.
int32_t const kTrailer = 500;
// The speed of the percentage move.
double const kFullSpeed = 1.0;

}  // namespace

PositioningTestService::PositioningTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "0") {
    KOVRA_COMMAND(PositioningTestService, getEnabledAxes);
    KOVRA_COMMAND(PositioningTestService, getUdpServerPort);
    KOVRA_COMMAND(PositioningTestService, getPosition);
    KOVRA_COMMAND(PositioningTestService, moveToPositionWithSpeedMillidegrees);
    KOVRA_COMMAND(PositioningTestService, moveToPositionWithSpeedPercentage);
    KOVRA_COMMAND(PositioningTestService, getVelocity);
    KOVRA_COMMAND(PositioningTestService, setVelocity);
    KOVRA_COMMAND(PositioningTestService, getSoftPositionLimits);
    KOVRA_COMMAND(PositioningTestService, setSoftPositionLimits);
    KOVRA_COMMAND(PositioningTestService, getImplementationPositionLimits);
    KOVRA_COMMAND(PositioningTestService, clearPositionLimits);
    KOVRA_COMMAND(PositioningTestService, restorePositionLimits);
    KOVRA_COMMAND(PositioningTestService, getSoftVelocityLimits);
    KOVRA_COMMAND(PositioningTestService, setSoftVelocityLimits);
    KOVRA_COMMAND(PositioningTestService, getImplementationVelocityLimits);
    KOVRA_COMMAND(PositioningTestService, clearVelocityLimits);
    KOVRA_COMMAND(PositioningTestService, restoreVelocityLimits);
    KOVRA_COMMAND(PositioningTestService, getAzimuthZero);
    KOVRA_COMMAND(PositioningTestService, setAzimuthZero);
    KOVRA_OPEN_INITIATOR(positioning);
}

PositioningTestService::~PositioningTestService() {
    kovra_api_positioning_initiator_deinit(initiator());
}

bool PositioningTestService::softLimits(SoftLimitsRead read, SoftLimitsWrite write) const {
    // The flags start at 1, so a flag that the library leaves untouched is
    // written back selecting its axis.
    uint8_t flag1 = 1, flag2 = 1, flag3 = 1;
    int32_t first1 = 0, second1 = 0, first2 = 0, second2 = 0, first3 = 0, second3 = 0;
    if (read(initiator(), target(), &flag1, &first1, &second1, &flag2, &first2, &second2, &flag3,
             &first3, &second3) != 0) {
        return false;
    }
    return write == nullptr || write(initiator(), target(), flag1, first1, second1, flag2, first2,
                                     second2, flag3, first3, second3) == 0;
}

bool PositioningTestService::onAllAxes(AxesRequest request) const {
    return request(initiator(), target(), kAxis, kAxis, kAxis) == 0;
}

bool PositioningTestService::getEnabledAxes() {
    return get(kovra_api_positioning_get_enabled_axes_send);
}
bool PositioningTestService::getUdpServerPort() {
    return get(kovra_api_positioning_get_udp_server_port_send);
}
bool PositioningTestService::getPosition() { return get(kovra_api_positioning_get_position_send); }
bool PositioningTestService::moveToPositionWithSpeedMillidegrees() {
    uint32_t l1 = 0, l2 = 0, l3 = 0, l4 = 0, l5 = 0, l6 = 0;
    int32_t p1 = 0, p2 = 0, p3 = 0;
    if (kovra_api_positioning_get_implementation_velocity_limits_send(
            initiator(), target(), &l1, &l2, &l3, &l4, &l5, &l6) != 0 ||
        kovra_api_positioning_get_position_send(initiator(), target(), &p1, &p2, &p3) != 0) {
        return false;
    }
    // Each axis moves at the second value of its pair of velocity limits.
    return kovra_api_positioning_move_to_position_with_speed_millidegrees_send(
               initiator(), target(), kAxis, p1, l2, kAxis, p2, l4, kAxis, p3, l6, kTrailer) == 0;
}
bool PositioningTestService::moveToPositionWithSpeedPercentage() {
    int32_t p1 = 0, p2 = 0, p3 = 0;
    if (kovra_api_positioning_get_position_send(initiator(), target(), &p1, &p2, &p3) != 0) {
        return false;
    }
    return kovra_api_positioning_move_to_position_with_speed_percentage_send(
               initiator(), target(), kAxis, p1, kFullSpeed, kAxis, p2, kFullSpeed, kAxis, p3,
               kFullSpeed, kTrailer) == 0;
}
bool PositioningTestService::getVelocity() { return get(kovra_api_positioning_get_velocity_send); }
bool PositioningTestService::setVelocity() {
    int32_t w1 = 0, w2 = 0, w3 = 0;
    if (kovra_api_positioning_get_velocity_send(initiator(), target(), &w1, &w2, &w3) != 0) {
        return false;
    }
    return kovra_api_positioning_set_velocity_send(initiator(), target(), kAxis, w1, kAxis, w2,
                                                   kAxis, w3, kTrailer) == 0;
}
bool PositioningTestService::getSoftPositionLimits() {
    return softLimits(kovra_api_positioning_get_soft_position_limits_send, nullptr);
}
bool PositioningTestService::setSoftPositionLimits() {
    return softLimits(kovra_api_positioning_get_soft_position_limits_send,
                      kovra_api_positioning_set_soft_position_limits_send);
}
bool PositioningTestService::getImplementationPositionLimits() {
    return get(kovra_api_positioning_get_implementation_position_limits_send);
}
bool PositioningTestService::clearPositionLimits() {
    return onAllAxes(kovra_api_positioning_clear_position_limits_send);
}
bool PositioningTestService::restorePositionLimits() {
    return onAllAxes(kovra_api_positioning_restore_position_limits_send);
}
bool PositioningTestService::getSoftVelocityLimits() {
    return softLimits(kovra_api_positioning_get_soft_velocity_limits_send, nullptr);
}
bool PositioningTestService::setSoftVelocityLimits() {
    return softLimits(kovra_api_positioning_get_soft_velocity_limits_send,
                      kovra_api_positioning_set_soft_velocity_limits_send);
}
bool PositioningTestService::getImplementationVelocityLimits() {
    return get(kovra_api_positioning_get_implementation_velocity_limits_send);
}
bool PositioningTestService::clearVelocityLimits() {
    return onAllAxes(kovra_api_positioning_clear_velocity_limits_send);
}
bool PositioningTestService::restoreVelocityLimits() {
    return onAllAxes(kovra_api_positioning_restore_velocity_limits_send);
}
bool PositioningTestService::getAzimuthZero() {
    return get(kovra_api_positioning_get_azimuth_zero_send);
}
bool PositioningTestService::setAzimuthZero() {
    return writeBack(kovra_api_positioning_get_azimuth_zero_send,
                     kovra_api_positioning_set_azimuth_zero_send);
}
