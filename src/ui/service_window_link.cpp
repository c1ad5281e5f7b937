#include "ui/service_window_link.h"

#include <cstring>

namespace tavrel {

void ServiceWindowLink::Connect(ProcessorQueries* queries, bool program_guide,
                                bool data_broadcast) {
    ServiceWindowQueries lent;
    if (queries != nullptr) {
        lent.service_name = [queries](uint16_t service_id, std::span<char> name) {
            return queries->ServiceName(service_id, name.data(),
                                        static_cast<uint32_t>(name.size()));
        };
        lent.filter = [queries](std::span<const uint16_t> services,
                                std::span<const uint16_t> pids) {
            // Empty lists go as null: that is "no filter" to the capture.
            queries->SetServiceFilter(services.empty() ? nullptr : services.data(),
                                      static_cast<uint32_t>(services.size()),
                                      pids.empty() ? nullptr : pids.data(),
                                      static_cast<uint32_t>(pids.size()));
        };
        lent.write_resources = [queries](const std::string& folder, uint16_t pid) {
            return queries->WriteDataBroadcast(folder, pid);
        };
    }
    window_.SetQueries(std::move(lent));
    window_.SetProcessingSwitches(program_guide, data_broadcast);
}

void ServiceWindowLink::OnServiceName(uint16_t service_id, const char* shift_jis_name) {
    window_.OnServiceName(service_id,
                          shift_jis_name == nullptr
                              ? std::string_view()
                              : std::string_view(shift_jis_name, strnlen(shift_jis_name, 256)));
}

}  // namespace tavrel
