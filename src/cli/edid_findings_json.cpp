#include "edid_findings_json.h"

namespace mc::ctl {

Json edidFindingsJson(const EdidFindings& findings) {
    Json out = Json::array();
    for (const EdidFinding& finding : findings) {
        out.push(Json::object()
                     .set("severity", edidSeverityName(finding.severity))
                     .set("offset", static_cast<std::int64_t>(finding.offset))
                     .set("text", finding.text));
    }
    return out;
}

} // namespace mc::ctl
