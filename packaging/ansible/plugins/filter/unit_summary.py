# -*- coding: utf-8 -*-
# The table that ends a rollout: every unit of every station, with what
# happened to it, from the results the play registered on each station.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

# A unit left alone by skip_when is done as much as one flashed; in check mode
# a unit in its loader is one the download would recover.
DONE = ('success', 'skipped', 'answers', 'would be skipped', 'would be recovered')


def one_line(text):
    return ' '.join(str(text or '').split())


def seconds(value):
    return '%.1f s' % value if isinstance(value, (int, float)) else ''


def register_text(values):
    return ' '.join('%s=%s' % (name, value) for name, value in (values or {}).items())


def read_outcomes(hostvars, read):
    """Unit name to what the read task made of it, as it judged the station."""
    return {unit.get('name'): unit for unit in (hostvars.get(read) or {}).get('units') or []}


def station_rows(station, hostvars, flash, read, error):
    result = hostvars.get(flash) or {}
    units = result.get('units') or []
    readings = ((hostvars.get(read) or {}).get('ansible_facts') or {}).get('fcloader_registers', {})
    reads = read_outcomes(hostvars, read)
    if not units:
        reason = hostvars.get(error)
        return [(station, '-', 'failed' if reason else 'not reached', '', one_line(reason), '')]
    rows = []
    for unit in units:
        outcome, message = unit.get('outcome'), unit.get('message')
        read_result = reads.get(unit.get('name')) or {}
        # The read's failure fails the station: the unit's row says so too.
        if read_result.get('outcome') == 'failed':
            outcome, message = 'read failed', read_result.get('message')
        rows.append((station, unit.get('name'), outcome, seconds(unit.get('seconds')),
                     one_line(message), register_text(readings.get(unit.get('name')))))
    return rows


def aligned(rows):
    widths = [max(len(str(row[column])) for row in rows) for column in range(len(rows[0]))]
    return ['  '.join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip()
            for row in rows]


def totals(rows, failed_stations):
    units = [row for row in rows if row[1] != '-']
    done = [row for row in units if row[2] in DONE]
    failed = sorted(failed_stations | {row[0] for row in rows
                                       if row[2] not in DONE + ('not reached',)})
    waiting = [row[0] for row in rows if row[2] == 'not reached']
    line = '%d of %d units done; stations failed: %s' % (
        len(done), len(units), ', '.join(failed) or 'none')
    return line + ('; not reached: ' + ', '.join(waiting) if waiting else '')


def unit_summary(hostvars, stations, flash='fc_flash', read='fc_read', error='fc_station_error'):
    """Lines of a table of every unit of `stations`, and a line of totals."""
    rows = []
    for station in stations:
        rows += station_rows(station, hostvars[station], flash, read, error)
    # A station is failed by the same outcome that fails its host.
    failed_stations = {station for station in stations if hostvars[station].get(error)}
    header = ('station', 'unit', 'outcome', 'time', 'message', 'registers')
    return aligned([header] + rows) + [totals(rows, failed_stations)]


class FilterModule(object):
    def filters(self):
        return dict(unit_summary=unit_summary)
