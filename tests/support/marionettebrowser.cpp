#include "marionettebrowser.h"

#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

// No updates, telemetry, safe browsing, captive-portal or connectivity checks, remote settings,
// add-on lists or first-run pages; downloads go to the profile's folder without a question, and
// an add-on's host permissions are granted as it is installed.
const char *const Prefs[][2] = {
    {"app.update.disabledForTesting", "true"},
    {"app.normandy.enabled", "false"},
    {"browser.aboutwelcome.enabled", "false"},
    {"browser.download.always_ask_before_handling_new_types", "false"},
    {"browser.download.folderList", "2"},
    {"browser.download.useDownloadDir", "true"},
    {"browser.newtabpage.enabled", "false"},
    {"browser.ping-centre.telemetry", "false"},
    {"browser.safebrowsing.downloads.enabled", "false"},
    {"browser.safebrowsing.malware.enabled", "false"},
    {"browser.safebrowsing.phishing.enabled", "false"},
    {"browser.safebrowsing.update.enabled", "false"},
    {"browser.search.update", "false"},
    {"browser.shell.checkDefaultBrowser", "false"},
    {"browser.startup.homepage_override.mstone", "\"ignore\""},
    {"browser.startup.page", "0"},
    {"datareporting.healthreport.uploadEnabled", "false"},
    {"datareporting.policy.dataSubmissionEnabled", "false"},
    {"dom.push.connection.enabled", "false"},
    {"extensions.blocklist.enabled", "false"},
    {"extensions.getAddons.cache.enabled", "false"},
    {"extensions.originControls.grantByDefault", "true"},
    {"extensions.update.enabled", "false"},
    {"media.gmp-manager.url", "\"\""},
    {"network.captive-portal-service.enabled", "false"},
    {"network.connectivity-service.enabled", "false"},
    {"network.dns.disablePrefetch", "true"},
    {"network.prefetch-next", "false"},
    {"services.settings.server", "\"http://127.0.0.1:9/\""},
    {"toolkit.telemetry.enabled", "false"},
    {"toolkit.telemetry.server", "\"\""},
    {"marionette.port", "0"},
};

} // namespace

QString MarionetteBrowser::firefoxPath()
{
    return findProgram({QStringLiteral("firefox-esr"), QStringLiteral("firefox")});
}

QString MarionetteBrowser::nativeHostsFolder() const
{
    return m_home.filePath(QStringLiteral(".mozilla/native-messaging-hosts"));
}

bool MarionetteBrowser::start(const QString &extension)
{
    const QString profile = m_home.filePath(QStringLiteral("profile"));
    QDir().mkpath(profile);
    QByteArray prefs;
    for (const auto &[name, value] : Prefs)
        prefs += "user_pref(\"" + QByteArray(name) + "\", " + value + ");\n";
    prefs += "user_pref(\"browser.download.dir\", \"" + downloadsFolder().toUtf8() + "\");\n";
    // The add-on's pages get a fixed host: a string pref that holds JSON {"add-on id": "uuid"}.
    const QString id = QJsonDocument::fromJson(readFile(
        extension + "/manifest.json"))["browser_specific_settings"]["gecko"]["id"]
                           .toString();
    const QByteArray uuids = QJsonDocument(QJsonObject{{id, QLatin1String(ExtensionHost)}})
                                 .toJson(QJsonDocument::Compact)
                                 .replace('"', "\\\"");
    prefs += "user_pref(\"extensions.webextensions.uuids\", \"" + uuids + "\");\n";
    if (!writeFile(profile + QStringLiteral("/user.js"), prefs)) {
        m_error = QStringLiteral("cannot write the profile");
        return false;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home.path());
    env.insert(QStringLiteral("MOZ_HEADLESS"), QStringLiteral("1"));
    m_process.setProcessEnvironment(env);
    if (!launch(firefoxPath(),
                {QStringLiteral("--headless"), QStringLiteral("--marionette"),
                 QStringLiteral("-remote-allow-system-access"), QStringLiteral("--no-remote"),
                 QStringLiteral("--profile"), profile, QStringLiteral("about:blank")},
                {}))
        return false;
    // With port 0 Firefox picks a free one and writes it into the profile.
    const QString portFile = profile + QStringLiteral("/MarionetteActivePort");
    if (!QTest::qWaitFor([&] { return readFile(portFile).trimmed().toInt() > 0; }, 60000)) {
        m_error = QStringLiteral("Marionette did not start");
        return false;
    }
    m_socket.connectToHost(QHostAddress::LocalHost, quint16(readFile(portFile).trimmed().toInt()));
    if (!m_socket.waitForConnected(10000)) {
        m_error = m_socket.errorString();
        return false;
    }
    // The greeting comes first, then the session, then the add-on, installed as a temporary one.
    command(QString(), {}, 10000);
    return !command(QStringLiteral("WebDriver:NewSession"),
                    {{QStringLiteral("capabilities"), QJsonObject{}}})
                .isUndefined() &&
           !command(QStringLiteral("Addon:Install"),
                    {{QStringLiteral("path"), extension}, {QStringLiteral("temporary"), true}})
                .isUndefined();
}

bool MarionetteBrowser::open(const QString &url)
{
    if (url.startsWith(QLatin1String("http")))
        return !command(QStringLiteral("WebDriver:Navigate"), {{QStringLiteral("url"), url}})
                    .isUndefined() &&
               waitForPage(url);
    // Web content may not lead to an add-on's own pages (moz-extension://): the browser itself
    // opens them.
    const auto context = [this](const char *name) {
        return !command(QStringLiteral("Marionette:SetContext"),
                        {{QStringLiteral("value"), QLatin1String(name)}})
                    .isUndefined();
    };
    const bool opened =
        context("chrome") &&
        !command(QStringLiteral("WebDriver:ExecuteScript"),
                 {{QStringLiteral("script"),
                   QStringLiteral("gBrowser.selectedBrowser.fixupAndLoadURIString(arguments[0], "
                                  "{triggeringPrincipal: "
                                  "Services.scriptSecurityManager.getSystemPrincipal()});")},
                  {QStringLiteral("args"), QJsonArray{url}}})
             .isUndefined();
    return context("content") && opened && waitForPage(url);
}

QJsonValue MarionetteBrowser::evaluate(const QString &expression)
{
    return command(QStringLiteral("WebDriver:ExecuteScript"),
                   {{QStringLiteral("script"), QStringLiteral("return (%1);").arg(expression)},
                    {QStringLiteral("args"), QJsonArray()}})
        .toObject()
        .value(QStringLiteral("value"));
}

bool MarionetteBrowser::altClick(int x, int y)
{
    // One tick per step of each source: Alt goes down before the button and up after it.
    const QString alt = QStringLiteral("\uE00A");
    const QJsonObject pause{{QStringLiteral("type"), QStringLiteral("pause")}};
    const QJsonArray keys{QJsonObject{{"type", "keyDown"}, {"value", alt}}, pause, pause,
                          QJsonObject{{"type", "keyUp"}, {"value", alt}}};
    const QJsonArray mouse{
        QJsonObject{{"type", "pointerMove"}, {"x", x}, {"y", y}, {"origin", "viewport"}},
        QJsonObject{{"type", "pointerDown"}, {"button", 0}},
        QJsonObject{{"type", "pointerUp"}, {"button", 0}}, pause};
    const QJsonArray actions{QJsonObject{{"type", "key"}, {"id", "keyboard"}, {"actions", keys}},
                             QJsonObject{{"type", "pointer"},
                                         {"id", "mouse"},
                                         {"parameters", QJsonObject{{"pointerType", "mouse"}}},
                                         {"actions", mouse}}};
    return !command(QStringLiteral("WebDriver:PerformActions"), {{"actions", actions}})
                .isUndefined();
}

// Messages are "LENGTH:JSON". A command is [0, id, name, params]; its answer [1, id, error,
// result]. An empty name only reads the next message (the greeting).
QJsonValue MarionetteBrowser::command(const QString &name, const QJsonObject &params, int timeoutMs)
{
    const int id = m_nextId;
    if (!name.isEmpty()) {
        ++m_nextId;
        const QByteArray body =
            QJsonDocument(QJsonArray{0, id, name, params}).toJson(QJsonDocument::Compact);
        m_socket.write(QByteArray::number(body.size()) + ':' + body);
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs && m_socket.state() == QAbstractSocket::ConnectedState) {
        m_pending += m_socket.readAll();
        const int colon = m_pending.indexOf(':');
        const int length = colon > 0 ? m_pending.left(colon).toInt() : -1;
        if (length >= 0 && m_pending.size() >= colon + 1 + length) {
            const QJsonDocument message = QJsonDocument::fromJson(m_pending.mid(colon + 1, length));
            m_pending.remove(0, colon + 1 + length);
            if (name.isEmpty())
                return message.object();
            const QJsonArray answer = message.array();
            if (answer.at(1).toInt() != id)
                continue;
            if (!answer.at(2).isNull()) {
                m_error =
                    name + QStringLiteral(": ") +
                    QString::fromUtf8(
                        QJsonDocument(answer.at(2).toObject()).toJson(QJsonDocument::Compact));
                return QJsonValue(QJsonValue::Undefined);
            }
            return answer.at(3).isNull() ? QJsonValue(true) : answer.at(3);
        }
        QTest::qWait(10);
    }
    m_error = name + QStringLiteral(": no answer");
    return QJsonValue(QJsonValue::Undefined);
}
