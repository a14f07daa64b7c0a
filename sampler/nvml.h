#pragma once

#include "source.h"

#include <QLibrary>

#include <memory>

namespace sampler {

// NVIDIA's management library, bound by name at the first read so that the
// program starts and runs on machines without it.
class NvmlSource final : public Source {
public:
    static QString defaultLibrary();

    // Reads the GPU at this PCI address when given, else the monitor's index.
    explicit NvmlSource(QString library = defaultLibrary(), QString pciAddress = {});
    ~NvmlSource() override;
    Q_DISABLE_COPY_MOVE(NvmlSource)

    Outcome read(unsigned index, Reading& reading) override;
    void shutdown() override;

    // Whether the library could be loaded and has what a read needs, and if
    // not, why; binds it on first use.
    Outcome probe();

private:
    struct Api;
    Outcome bind();
    QString errorText(int code) const;

    QString m_libraryName;
    QString m_pciAddress;
    QLibrary m_library;
    std::unique_ptr<Api> m_api;
    bool m_initialised = false;
    void* m_device = nullptr;
    unsigned m_deviceIndex = 0;
    QString m_deviceName;
    qint32 m_upper = 0;
};

} // namespace sampler
