// SPDX-License-Identifier: MIT
#include "about/SoundPlayer.h"

#include "platform/FileSystem.h"
#include "platform/NativeName.h"

#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTemporaryFile>
#include <QUrl>

namespace vexlo::about {

QtSoundPlayer::QtSoundPlayer() = default;

QtSoundPlayer::~QtSoundPlayer()
{
    stop();
}

bool QtSoundPlayer::hasSoundOutput()
{
    return !QMediaDevices::audioOutputs().isEmpty();
}

bool QtSoundPlayer::start(const QString& path, Finished finished)
{
    stop();
    if (!hasSoundOutput())
        return false;
    const QString real = platform::resolvePath(path);
    if (!platform::isRegularFile(real))
        return false;

    // The sound effect takes a URL, which cannot carry a name whose bytes are
    // not UTF-8; such a file is played from a copy.
    QUrl source;
    if (platform::encodeName(real) == real.toUtf8()) {
        source = QUrl::fromLocalFile(real);
    } else {
        QByteArray bytes;
        if (!platform::readFile(real, bytes))
            return false;
        m_copy = std::make_unique<QTemporaryFile>(QStringLiteral("vexlo32-XXXXXX.wav"));
        if (!m_copy->open() || m_copy->write(bytes) != bytes.size() || !m_copy->flush()) {
            m_copy.reset();
            return false;
        }
        source = QUrl::fromLocalFile(m_copy->fileName());
    }

    m_finished = std::move(finished);
    m_started = false;
    m_effect = std::make_unique<QSoundEffect>(QMediaDevices::defaultAudioOutput());
    QSoundEffect* effect = m_effect.get();
    QObject::connect(effect, &QSoundEffect::statusChanged, effect, [this, effect] {
        if (effect->status() == QSoundEffect::Error)
            finish(false);
    });
    QObject::connect(effect, &QSoundEffect::playingChanged, effect, [this, effect] {
        if (effect->isPlaying())
            m_started = true;
        else if (m_started)
            finish(true);
    });
    effect->setSource(source);
    // Plays as soon as the file is loaded.
    effect->play();
    return true;
}

void QtSoundPlayer::finish(bool played)
{
    // Called from the effect's own signals: the effect itself goes in stop().
    Finished finished = std::move(m_finished);
    m_finished = nullptr;
    if (finished)
        finished(played);
}

void QtSoundPlayer::stop()
{
    m_finished = nullptr;
    if (m_effect) {
        m_effect->disconnect();
        m_effect->stop();
        // It may be in the middle of one of its signals.
        m_effect.release()->deleteLater();
    }
    m_copy.reset();
    m_started = false;
}

void QtSoundPlayer::beep()
{
    QApplication::beep();
}

} // namespace vexlo::about
