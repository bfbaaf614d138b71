#!/bin/sh
# Called by ntpd on every clock event; records the last one for the station.
echo "$1 $(date +%s)" >/run/ntpd.status
