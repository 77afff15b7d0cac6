// The PAC helper functions written in JavaScript; dnsResolve and myIpAddress are native.
#pragma once

namespace oxl::http::detail {

inline constexpr const char* PAC_HELPER_SCRIPT = R"JS(
function alert(message) {}

function isPlainHostName(host) {
    return String(host).indexOf('.') < 0;
}

function dnsDomainIs(host, domain) {
    host = String(host);
    domain = String(domain);
    return host.length >= domain.length && host.substring(host.length - domain.length) === domain;
}

function localHostOrDomainIs(host, hostdom) {
    host = String(host);
    hostdom = String(hostdom);
    if (host === hostdom) {
        return true;
    }
    return host.indexOf('.') < 0 && hostdom.substring(0, host.length + 1) === host + '.';
}

function dnsDomainLevels(host) {
    return String(host).split('.').length - 1;
}

function isResolvable(host) {
    return dnsResolve(host) !== null;
}

function convert_addr(ipaddr) {
    var parts = String(ipaddr).split('.');
    if (parts.length !== 4) {
        return 0;
    }
    var value = 0;
    for (var i = 0; i < 4; i++) {
        value = value * 256 + ((parseInt(parts[i], 10) & 255) >>> 0);
    }
    return value >>> 0;
}

function isInNet(host, pattern, mask) {
    host = String(host);
    var address = /^\d{1,3}(\.\d{1,3}){3}$/.test(host) ? host : dnsResolve(host);
    if (address === null) {
        return false;
    }
    var m = convert_addr(mask);
    return ((convert_addr(address) & m) >>> 0) === ((convert_addr(pattern) & m) >>> 0);
}

// '*' any run of characters and '?' any one, line breaks included; everything else stands for itself.
// Compared directly rather than through a regular expression, in at most length(str) * length(shexp) steps.
function shExpMatch(str, shexp) {
    var text = String(str);
    var pattern = String(shexp);
    var t = 0, p = 0, star = -1, resume = 0;
    while (t < text.length) {
        if (p < pattern.length && pattern.charAt(p) === '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.length && (pattern.charAt(p) === '?' || pattern.charAt(p) === text.charAt(t))) {
            t++;
            p++;
        } else if (star >= 0) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.length && pattern.charAt(p) === '*') {
        p++;
    }
    return p === pattern.length;
}

var __pacDayNames = ['SUN', 'MON', 'TUE', 'WED', 'THU', 'FRI', 'SAT'];
var __pacMonthNames = ['JAN', 'FEB', 'MAR', 'APR', 'MAY', 'JUN', 'JUL', 'AUG', 'SEP', 'OCT', 'NOV', 'DEC'];

function __pacNow() {
    return typeof __pacFixedTime === 'number' ? new Date(__pacFixedTime) : new Date();
}

// Splits off a trailing "GMT" argument.
function __pacArguments(args) {
    var list = Array.prototype.slice.call(args);
    var gmt = list.length > 0 && String(list[list.length - 1]).toUpperCase() === 'GMT';
    if (gmt) {
        list.pop();
    }
    return {list: list, gmt: gmt};
}

// start <= value <= end, or, when start > end, the range that wraps around.
function __pacInRange(value, start, end, wraps) {
    if (start <= end) {
        return value >= start && value <= end;
    }
    return wraps && (value >= start || value <= end);
}

function weekdayRange() {
    var a = __pacArguments(arguments);
    if (a.list.length < 1 || a.list.length > 2) {
        return false;
    }
    var now = __pacNow();
    var today = a.gmt ? now.getUTCDay() : now.getDay();
    var first = __pacDayNames.indexOf(String(a.list[0]).toUpperCase());
    var last = a.list.length === 2 ? __pacDayNames.indexOf(String(a.list[1]).toUpperCase()) : first;
    if (first < 0 || last < 0) {
        return false;
    }
    return __pacInRange(today, first, last, true);
}

// Arguments are days (1-31), month names and years (four digits); one value, or two, four or six values
// naming the same fields for the start and the end of an inclusive range.
function dateRange() {
    var a = __pacArguments(arguments);
    var n = a.list.length;
    if (n !== 1 && n !== 2 && n !== 4 && n !== 6) {
        return false;
    }
    var items = [];
    for (var i = 0; i < n; i++) {
        var v = a.list[i];
        var text = String(v).toUpperCase();
        var month = __pacMonthNames.indexOf(text);
        if (month >= 0) {
            items.push({kind: 'month', value: month});
        } else if (/^\d+$/.test(text)) {
            var number = parseInt(text, 10);
            if (number >= 1 && number <= 31) {
                items.push({kind: 'day', value: number});
            } else if (number >= 1000) {
                items.push({kind: 'year', value: number});
            } else {
                return false;
            }
        } else {
            return false;
        }
    }
    var half = n === 1 ? 1 : n / 2;
    var start = items.slice(0, half);
    var end = n === 1 ? start : items.slice(half);
    var used = {};
    for (var j = 0; j < half; j++) {
        if (start[j].kind !== end[j].kind || used[start[j].kind]) {
            return false;
        }
        used[start[j].kind] = true;
    }
    var now = __pacNow();
    var current = {
        day: a.gmt ? now.getUTCDate() : now.getDate(),
        month: a.gmt ? now.getUTCMonth() : now.getMonth(),
        year: a.gmt ? now.getUTCFullYear() : now.getFullYear()
    };
    function key(list) {
        var k = 0;
        for (var x = 0; x < list.length; x++) {
            var weight = list[x].kind === 'year' ? 10000 : list[x].kind === 'month' ? 100 : 1;
            k += weight * list[x].value;
        }
        return k;
    }
    var nowKey = 0;
    for (var y = 0; y < half; y++) {
        var kind = start[y].kind;
        var weight = kind === 'year' ? 10000 : kind === 'month' ? 100 : 1;
        nowKey += weight * current[kind];
    }
    return __pacInRange(nowKey, key(start), key(end), !used.year);
}

// timeRange(hour), timeRange(h1, h2), timeRange(h1, m1, h2, m2), timeRange(h1, m1, s1, h2, m2, s2): the
// start is included, the end is not (timeRange(9, 17) holds from 9:00 until 17:00).
function timeRange() {
    var a = __pacArguments(arguments);
    var n = a.list.length;
    var v = [];
    for (var i = 0; i < n; i++) {
        var number = parseInt(String(a.list[i]), 10);
        if (isNaN(number)) {
            return false;
        }
        v.push(number);
    }
    var now = __pacNow();
    var hours = a.gmt ? now.getUTCHours() : now.getHours();
    var seconds = hours * 3600 + (a.gmt ? now.getUTCMinutes() : now.getMinutes()) * 60 +
                  (a.gmt ? now.getUTCSeconds() : now.getSeconds());
    var start;
    var end;
    if (n === 1) {
        return hours === v[0];
    } else if (n === 2) {
        start = v[0] * 3600;
        end = v[1] * 3600;
    } else if (n === 4) {
        start = v[0] * 3600 + v[1] * 60;
        end = v[2] * 3600 + v[3] * 60;
    } else if (n === 6) {
        start = v[0] * 3600 + v[1] * 60 + v[2];
        end = v[3] * 3600 + v[4] * 60 + v[5];
    } else {
        return false;
    }
    if (start <= end) {
        return seconds >= start && seconds < end;
    }
    return seconds >= start || seconds < end;
}
)JS";

}  // namespace oxl::http::detail
