#ifndef ZELKOENCRYPT_H
#define ZELKOENCRYPT_H

#include <QObject>
#include <QString>

// Derived key, keyed signature and scrambled parameter form used by the QML
// client while it builds queries. Stateless: every result depends only on the
// arguments and the compiled-in key.
class ZelkoEncrypt : public QObject
{
    Q_OBJECT
public:
    explicit ZelkoEncrypt(QObject *parent = nullptr);

public slots:
    int zelkoLib_getCrc32(QString);
    QString zelkoLib_getKey();
    QString zelkoLib_getEncryptString(QString str);
    QString zelkoLib_getEncryptParam(QString str, QString key);
};

#endif // ZELKOENCRYPT_H
