// The title and text of the box that shows a failure escaping a command.

#include <QTest>

#include "ui/FailureText.h"

class FailureTextTest : public QObject {
    Q_OBJECT
private slots:
    void titleFromExecutable_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        QTest::newRow("plain name") << "/usr/bin/tavolene"
                                    << "tavolene";
        QTest::newRow("first letter kept, rest lowered") << "/opt/TAVOLENE"
                                                         << "Tavolene";
        QTest::newRow("cut at first full stop") << "/opt/Tavolene.1.0.bin"
                                                << "Tavolene";
        QTest::newRow("full stop in folder ignored") << "/opt/v1.2/Integra"
                                                     << "Integra";
        QTest::newRow("no folder") << "MeuPrograma.exe"
                                   << "Meuprograma";
        QTest::newRow("one letter") << "/x/T.exe"
                                    << "T";
        QTest::newRow("name starts with full stop") << "/x/.hidden"
                                                    << "";
    }
    void titleFromExecutable() {
        QFETCH(QString, path);
        QFETCH(QString, title);
        QCOMPARE(ui::applicationTitle(path), title);
    }

    void fullStopRule_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ends in a letter") << "Falhou"
                                          << "Falhou.";
        QTest::newRow("ends in a digit") << "Código 335544344"
                                         << "Código 335544344.";
        QTest::newRow("ends in a colon") << "Motivo:"
                                         << "Motivo:.";
        QTest::newRow("ends in a slash, code 47") << "C:/dados/"
                                                  << "C:/dados/.";
        QTest::newRow("ends in an accented letter") << "Não é"
                                                    << "Não é.";
        QTest::newRow("ends in exclamation") << "Erro ao converter os dados!"
                                             << "Erro ao converter os dados!";
        QTest::newRow("ends in a parenthesis") << "falhou (x)"
                                               << "falhou (x)";
        QTest::newRow("ends in a full stop") << "Fim."
                                             << "Fim.";
        QTest::newRow("ends in a hyphen, code 45") << "a-"
                                                   << "a-";
        QTest::newRow("ends in a blank") << "texto "
                                         << "texto ";
        QTest::newRow("empty") << ""
                               << "";
    }
    void fullStopRule() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(ui::failureText(message), shown);
    }
};

QTEST_APPLESS_MAIN(FailureTextTest)
#include "FailureTextTest.moc"
