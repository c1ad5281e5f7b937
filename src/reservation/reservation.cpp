#include "reservation/reservation.h"

#include "app/settings.h"

namespace tavrel {

uint16_t Reservation::LimitedService() const {
    return static_cast<uint16_t>(Atoi(TextOf(EnableServiceID)));
}

bool ReservationLess(const Reservation& a, const Reservation& b) {
    const bool a_unplaced = (a.Flag & RSV_BY_EVENT) != 0 && a.StartDateMJD == 0;
    const bool b_unplaced = (b.Flag & RSV_BY_EVENT) != 0 && b.StartDateMJD == 0;
    if (a_unplaced && b_unplaced) {
        if (a.ServiceID != b.ServiceID) {
            return a.ServiceID < b.ServiceID;
        }
        return a.EventID < b.EventID;
    }
    if (a_unplaced) {
        return false;
    }
    if (b_unplaced) {
        return true;
    }
    if (a.StartDateMJD != b.StartDateMJD) {
        return a.StartDateMJD < b.StartDateMJD;
    }
    return a.StartTimeSec < b.StartTimeSec;
}

bool SameReservation(const Reservation& a, const Reservation& b) {
    constexpr uint32_t kKind = RSV_BY_EVENT | RSV_BY_DATE;
    if ((a.Flag & kKind) != (b.Flag & kKind)) {
        return false;
    }
    if (a.ByEvent()) {
        return a.NetworkID == b.NetworkID && a.StreamID == b.StreamID &&
               a.ServiceID == b.ServiceID && a.EventID == b.EventID;
    }
    return a.StartDateMJD == b.StartDateMJD && a.StartTimeSec == b.StartTimeSec;
}

}  // namespace tavrel
