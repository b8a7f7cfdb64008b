#pragma once

#include <QString>
#include <QStringList>

// Finds the application's resources (the helper program, images, string
// tables, the credits) by name, whether Vorlo runs from its build tree or
// from an installed prefix. Every lookup is made afresh, so a resource that
// appears or disappears while Vorlo runs is seen at the next lookup.
class ResourceLocator
{
public:
    // The absolute path of the resource `name` (a file name, or a relative
    // path such as "images/folder.svg"), or an empty string if none exists.
    static QString find(const QString &name);

    // The folders searched, in order: $VORLO_RESOURCES (colon-separated),
    // the installed layout next to the running program
    // (<prefix>/libexec/vorlo, <prefix>/share/vorlo), then the build tree.
    static QStringList searchPaths();

    // Replaces the search path; an empty list restores the default.
    // For tests that need to hide or substitute a resource.
    static void setSearchPathsForTesting(const QStringList &paths);
};
