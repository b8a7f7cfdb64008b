#pragma once

#include "UpdateList.h"

#include <QUrl>
#include <optional>

// Fetches the update list from the update endpoint.
//
// The endpoint is https://<our update host>/updates/vorlocheck.xml. The
// environment variable VORLO_UPDATE_BASE ("http://127.0.0.1:8765", for
// instance) replaces its scheme, host and port, for tests and for people
// who host their own updates; the path stays.
//
// A fetch waits for its answer in a local event loop that leaves user input
// aside, so the window stays painted but nothing can start a second fetch
// meanwhile. It gives up after a time limit. Redirects are followed; an HTTP
// error, a time-out, an oversized answer or a list that UpdateList refuses
// all read as no list at all.
class UpdateListFetcher
{
public:
    static QUrl endpoint();

    // The list, or nothing when it could not be read. Also nothing, at once,
    // when called while another fetch is under way.
    static std::optional<UpdateList> fetch();

    static bool isBusy();

    // The time limit of a fetch, 30 s unless a test shortens it.
    static void setTimeoutForTesting(int milliseconds);
};
