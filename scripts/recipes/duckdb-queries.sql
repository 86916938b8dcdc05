-- Three questions to a capture loaded by scripts/recipes/duckdb.js, with
-- typed columns: tcp.dst_port is a number, dns.questions a list of structs.
-- Frames in the capture (a --statistic line has no "frame").
SELECT 'frames', count(*) FROM frames WHERE frame IS NOT NULL;
-- Frames to TCP port 443.
SELECT 'tcp_443', count(*) FROM frames WHERE tcp.dst_port = 443;
-- The three names asked most in DNS questions.
SELECT 'dns_name', q.name AS name, count(*) AS n
FROM (SELECT unnest(dns.questions) AS q FROM frames)
GROUP BY name ORDER BY n DESC, name LIMIT 3;
