#pragma once

// A plan run to its end as a front end runs it: started on the session's worker and waited for. A
// plan that does nothing gives its own report.

#include "session/foldersession.h"

inline korvalo::session::Report runPlan(korvalo::session::FolderSession &session,
                                        const korvalo::session::Plan &plan)
{
    if (!plan.runnable())
        return plan.report;
    session.start(plan);
    return session.wait();
}
