#include "marionettebrowser.h"

#include "testfiles.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTest>

QString MarionetteBrowser::firefoxPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("firefox-esr"));
}

QString MarionetteBrowser::nativeHostsFolder() const
{
    return m_home.filePath(QStringLiteral(".mozilla/native-messaging-hosts"));
}

bool MarionetteBrowser::start(const QString &extension)
{
    const QString profile = m_home.filePath(QStringLiteral("profile"));
    // The add-on's pages get a fixed host: a string pref that holds JSON {"add-on id": "uuid"}.
    const QString id = QJsonDocument::fromJson(readFile(
        extension + "/manifest.json"))["browser_specific_settings"]["gecko"]["id"]
                           .toString();
    const QJsonObject uuids{{id, QLatin1String(ExtensionHost)}};
    // Downloads go to the profile's folder without a question, an add-on's host permissions are
    // granted as it is installed, and Marionette takes a free port. Updates, telemetry, first-run
    // pages and other background traffic are off through Marionette's own recommended
    // preferences, which it sets as the browser starts.
    const std::pair<const char *, QByteArray> prefs[] = {
        {"browser.download.always_ask_before_handling_new_types", "false"},
        {"browser.download.folderList", "2"},
        {"browser.download.useDownloadDir", "true"},
        {"browser.download.dir", quoted(downloadsFolder())},
        {"extensions.originControls.grantByDefault", "true"},
        {"extensions.webextensions.uuids",
         quoted(QString::fromUtf8(QJsonDocument(uuids).toJson(QJsonDocument::Compact)))},
        {"marionette.port", "0"}};
    QByteArray userJs;
    for (const auto &[name, value] : prefs)
        userJs += "user_pref(\"" + QByteArray(name) + "\", " + value + ");\n";
    if (!QDir().mkpath(profile) || !writeFile(profile + QStringLiteral("/user.js"), userJs)) {
        m_error = QStringLiteral("cannot write the profile");
        return false;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home.path());
    m_process.setProcessEnvironment(env);
    launch(firefoxPath(),
           words("--headless --marionette -remote-allow-system-access --no-remote --profile")
               << profile << QStringLiteral("about:blank"));
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
    // The session, then the add-on, installed as a temporary one.
    return !command("WebDriver:NewSession", {{"capabilities", QJsonObject{}}}).isUndefined() &&
           !command("Addon:Install", {{"path", extension}, {"temporary", true}}).isUndefined();
}

bool MarionetteBrowser::navigate(const QString &url)
{
    if (url.startsWith(QLatin1String("http")))
        return !command("WebDriver:Navigate", {{"url", url}}).isUndefined();
    // Web content may not lead to an add-on's own pages (moz-extension://): the browser itself
    // opens them.
    const auto context = [this](const char *name) {
        return !command("Marionette:SetContext", {{"value", name}}).isUndefined();
    };
    const bool opened =
        context("chrome") &&
        !command("WebDriver:ExecuteScript",
                 {{"script", "gBrowser.selectedBrowser.fixupAndLoadURIString(arguments[0], "
                             "{triggeringPrincipal: "
                             "Services.scriptSecurityManager.getSystemPrincipal()});"},
                  {"args", QJsonArray{url}}})
             .isUndefined();
    return context("content") && opened;
}

QJsonValue MarionetteBrowser::evaluate(const QString &expression)
{
    return command("WebDriver:ExecuteScript",
                   {{"script", "return (" + expression + ");"}, {"args", QJsonArray()}})
        .toObject()
        .value("value");
}

bool MarionetteBrowser::altClick(int x, int y)
{
    // One tick per step of each source: Alt goes down before the button and up after it.
    const QString alt = QStringLiteral("\uE00A");
    const QJsonObject pause{{"type", "pause"}};
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
    return !command("WebDriver:PerformActions", {{"actions", actions}}).isUndefined();
}

QJsonValue MarionetteBrowser::command(const QString &name, const QJsonObject &params)
{
    // A command is [0, id, name, params], its answer [1, id, error, result], each sent as
    // "LENGTH:JSON". The greeting, and late answers to commands that timed out, go unread.
    const int id = m_nextId++;
    const QByteArray body =
        QJsonDocument(QJsonArray{0, id, name, params}).toJson(QJsonDocument::Compact);
    m_socket.write(QByteArray::number(body.size()) + ':' + body);
    QJsonArray answer;
    const auto answered = [&] {
        m_pending += m_socket.readAll();
        while (answer.isEmpty()) {
            const int colon = m_pending.indexOf(':');
            const int length = colon > 0 ? m_pending.left(colon).toInt() : -1;
            if (length < 0 || m_pending.size() < colon + 1 + length)
                break;
            const QJsonArray message =
                QJsonDocument::fromJson(m_pending.mid(colon + 1, length)).array();
            m_pending.remove(0, colon + 1 + length);
            if (message.at(1).toInt() == id)
                answer = message;
        }
        return !answer.isEmpty() || m_socket.state() != QAbstractSocket::ConnectedState;
    };
    if (!QTest::qWaitFor(answered, 30000) || answer.isEmpty())
        return failed(name);
    if (!answer.at(2).isNull())
        return failed(name, answer.at(2));
    return answer.at(3).isNull() ? QJsonValue(true) : answer.at(3);
}
