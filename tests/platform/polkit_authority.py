'''A polkit authority for tests: every CheckAuthorization waits until the test answers it
(as a person at the authentication dialog would), and CancelCheckAuthorization ends a
waiting check the way polkitd does, with the Cancelled error.'''

import dbus

from dbusmock import MOCK_IFACE

BUS_NAME = 'org.freedesktop.PolicyKit1'
MAIN_OBJ = '/org/freedesktop/PolicyKit1/Authority'
MAIN_IFACE = 'org.freedesktop.PolicyKit1.Authority'
SYSTEM_BUS = True


def load(mock, _parameters):
    mock.waiting = []
    mock.checks = []


@dbus.service.method(MAIN_IFACE, in_signature='(sa{sv})sa{ss}us', out_signature='(bba{ss})',
                     async_callbacks=('reply', 'fail'))
def CheckAuthorization(self, subject, action_id, _details, flags, cancellation_id, reply, fail):
    kind, subject_details = subject
    self.checks.append((kind, str(subject_details.get('name', '')), action_id, cancellation_id, dbus.UInt32(flags)))
    self.waiting.append((cancellation_id, reply, fail))


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='')
def CancelCheckAuthorization(self, cancellation_id):
    for entry in list(self.waiting):
        if entry[0] == cancellation_id:
            self.waiting.remove(entry)
            entry[2](dbus.exceptions.DBusException('Authentication was cancelled',
                                                   name='org.freedesktop.PolicyKit1.Error.Cancelled'))


@dbus.service.method(MOCK_IFACE, in_signature='bb', out_signature='')
def Answer(self, is_authorized, is_challenge):
    '''Answers the oldest waiting check.'''
    _, reply, _ = self.waiting.pop(0)
    reply((is_authorized, is_challenge, dbus.Dictionary({}, signature='ss')))


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='(ssssu)')
def LastCheck(self):
    return self.checks[-1]


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='u')
def WaitingCount(self):
    return len(self.waiting)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='')
def Reset(self):
    for _, _, fail in self.waiting:
        fail(dbus.exceptions.DBusException('reset', name='org.freedesktop.PolicyKit1.Error.Failed'))
    self.waiting = []
    self.checks = []
