// SPDX-License-Identifier: MIT
// Merging the local and the remote samples into timeline rows.
#include "merge.h"

#include <cmath>

void TimelineMerge::add_remote(double t, const LabSock* sock) {
    // A refined clock offset can move a sample a little before the one
    // before it; the order is what the lookup below relies on.
    if (!remote_.empty() && t < remote_.back().t) t = remote_.back().t;
    remote_.push_back({t, sock != nullptr, sock != nullptr ? *sock : LabSock()});
}

void TimelineMerge::add_local(double t, const LabSock* client, int64_t link_backlog) {
    local_.push_back({t, client != nullptr, client != nullptr ? *client : LabSock(), link_backlog});
}

void TimelineMerge::flush(double now, bool all, const std::function<void(const LabSample&)>& emit) {
    while (!local_.empty()) {
        const Local& l = local_.front();
        const bool settled = !remote_.empty() && remote_.back().t >= l.t;
        if (!settled && !all && now - l.t < hold_) break;
        // The nearest remote sample; those before it are no longer needed.
        while (remote_.size() > 1 && std::fabs(remote_[1].t - l.t) <= std::fabs(remote_[0].t - l.t))
            remote_.pop_front();
        LabSample s;
        s.t = l.t;
        s.client = l.has ? &l.client : nullptr;
        s.link_backlog = l.backlog;
        if (!remote_.empty() && remote_.front().has && std::fabs(remote_.front().t - l.t) <= near_)
            s.server = &remote_.front().sock;
        emit(s);
        local_.pop_front();
    }
}
