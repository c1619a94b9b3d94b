'''A Secret Service that never hands out a secret: with "mode" "refuse" every call fails with
AccessDenied (a keyring that refuses the application); with "silent" every call waits for an
answer that never comes, until the service goes away (a keyring stuck behind a prompt nobody
answers). HeldCount tells how many calls wait.'''

import dbus

from dbusmock import MOCK_IFACE

BUS_NAME = 'org.freedesktop.secrets'
MAIN_OBJ = '/org/freedesktop/secrets'
MAIN_IFACE = 'org.freedesktop.Secret.Service'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.mode = parameters.get('mode', 'refuse')
    mock.held = []
    mock.AddProperty(MAIN_IFACE, 'Collections', dbus.Array([], signature='o'))


def _neverGive(mock, reply, fail):
    if mock.mode == 'refuse':
        fail(dbus.exceptions.DBusException('The keyring refuses this application',
                                           name='org.freedesktop.DBus.Error.AccessDenied'))
    else:
        mock.held.append((reply, fail))


@dbus.service.method(MAIN_IFACE, in_signature='sv', out_signature='vo', async_callbacks=('reply', 'fail'))
def OpenSession(self, _algorithm, _input, reply, fail):
    _neverGive(self, reply, fail)


@dbus.service.method(MAIN_IFACE, in_signature='a{ss}', out_signature='aoao', async_callbacks=('reply', 'fail'))
def SearchItems(self, _attributes, reply, fail):
    _neverGive(self, reply, fail)


@dbus.service.method(MAIN_IFACE, in_signature='ao', out_signature='aoo', async_callbacks=('reply', 'fail'))
def Unlock(self, _objects, reply, fail):
    _neverGive(self, reply, fail)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='u')
def HeldCount(self):
    return len(self.held)
