// Qt 6.4's Windows platform plugin refers to the DirectWrite font database whenever DirectWrite 3
// is configured, but Qt Gui holds that database only when Direct2D is configured too, and the
// static Qt here is built without Direct2D. The plugin makes one only when asked for it
// (-platform windows:fontengine=directwrite); the default GDI font database is what the tutor
// uses. This definition satisfies the linker and says so plainly if it is ever asked for.
#include <QtGlobal>

class QWindowsDirectWriteFontDatabase {
public:
    QWindowsDirectWriteFontDatabase();
};

QWindowsDirectWriteFontDatabase::QWindowsDirectWriteFontDatabase()
{
    qFatal("This build has no DirectWrite font engine; leave out fontengine=directwrite");
}
