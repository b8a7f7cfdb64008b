#include "UpdateListFetcher.h"

#include "StringTable.h"

#include <QEventLoop>
#include <QCursor>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {
// Placeholder host of the update endpoint; see the README.
const char updateBase[] = "https://updates.vorlo.invalid";
const char updatePath[] = "/updates/vorlocheck.xml";

// An update list is a few kilobytes; anything far larger is not one.
constexpr qint64 largestList = 1024 * 1024;

bool busy = false;
int timeoutMilliseconds = 30000;
}

QUrl UpdateListFetcher::endpoint()
{
    QString base = qEnvironmentVariable("VORLO_UPDATE_BASE");
    if (base.isEmpty())
        base = QString::fromLatin1(updateBase);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return QUrl(base + QLatin1String(updatePath));
}

std::optional<UpdateList> UpdateListFetcher::fetch()
{
    if (busy)
        return std::nullopt;
    busy = true;
    const bool showsWaitCursor = qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
    if (showsWaitCursor)
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));

    QNetworkAccessManager manager;
    QNetworkRequest request(endpoint());
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    QNetworkReply *reply = manager.get(request);

    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, reply, &QNetworkReply::abort);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > largestList)
            reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    limit.start(timeoutMilliseconds);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    std::optional<UpdateList> list;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError && status >= 200 && status < 300) {
        const QByteArray body = reply->read(largestList + 1);
        if (body.size() <= largestList)
            list = UpdateList::fromXml(body, StringTable::text(QStringLiteral("updateControl11")));
    }
    delete reply;

    if (showsWaitCursor)
        QGuiApplication::restoreOverrideCursor();
    busy = false;
    return list;
}

bool UpdateListFetcher::isBusy()
{
    return busy;
}

void UpdateListFetcher::setTimeoutForTesting(int milliseconds)
{
    timeoutMilliseconds = milliseconds > 0 ? milliseconds : 30000;
}
