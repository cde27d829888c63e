// Hot-plug events of the unit's USB interface (hidraw) and of network interfaces (net), from
// libudev, delivered on the event loop of the object's thread. Without udev nothing arrives
// and available() says so; the caller then relies on polling alone.
#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;
struct udev;
struct udev_monitor;

class DeviceEvents : public QObject {
    Q_OBJECT

public:
    explicit DeviceEvents(QObject* parent = nullptr);
    ~DeviceEvents() override;
    DeviceEvents(const DeviceEvents&) = delete;
    DeviceEvents& operator=(const DeviceEvents&) = delete;

    // True when the monitor is open and events will be signalled.
    bool available() const;

signals:
    // subsystem "hidraw" or "net", action as udev names it ("add", "remove", "change", ...),
    // name the device's kernel name ("hidraw2", "can0").
    void changed(const QString& subsystem, const QString& action, const QString& name);

private:
    void receive();

    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    QSocketNotifier* notifier = nullptr;
};
