#pragma once

#include <QLocale>
#include <QTranslator>

class QCoreApplication;

// The users read Portuguese whatever the machine's locale: the engine's locale (its own pages,
// form-validation bubbles and pickers), set before the engine starts.
inline QLocale EngineLocale()
{
    return QLocale(QLocale::Portuguese, QLocale::Brazil);
}

// The engine's context-menu entries, which no Debian package translates.
class EngineMenuTranslator : public QTranslator
{
public:
    using QTranslator::QTranslator;
    QString translate(const char* context, const char* sourceText,
                      const char* disambiguation = nullptr, int n = -1) const override;
    bool isEmpty() const override { return false; }
};

// Installs Qt's own Brazilian Portuguese translations (the standard buttons and titles of every
// box, from Debian's qt6-translations-l10n) and the engine's menu entries into app. False when
// Qt's translations are not installed (the toolkit's texts then stay English); the menu entries
// are installed in any case.
bool InstallPortugueseTexts(QCoreApplication& app);
