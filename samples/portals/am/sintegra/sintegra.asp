<!DOCTYPE html>
<html lang="pt-BR">
<head>
<meta charset="utf-8">
<title>SINTEGRA - Amazonas - Resultado</title>
<style>
body { font-family: Verdana, sans-serif; font-size: 13px; margin: 1.5em; }
td { padding: 2px 6px; }
td.r { font-weight: bold; }
</style>
</head>
<body>
<p><a href="/sintegra/index.asp">Nova consulta</a> | <a href="/sintegra/ajuda.asp">Ajuda</a></p>
<h2>SINTEGRA - Consulta Pública ao Cadastro do Estado do Amazonas</h2>
<table>
<tr><th colspan="4">Identificação</th></tr>
<tr><td class="r">Inscrição Estadual:</td><td>04.234.567-8&nbsp;</td><td class="r">C.N.P.J:</td><td>23.456.789/0001-10&nbsp;</td></tr>
<tr><td class="r">Razão Social:</td><td colspan="3">MADEIREIRA RIO NEGRO LTDA&nbsp;</td></tr>
<tr><th colspan="4">Endereço</th></tr>
<tr><td class="r">Logradouro:</td><td colspan="3">AVENIDA EDUARDO RIBEIRO&nbsp;</td></tr>
<tr><td class="r">Número:</td><td>520&nbsp;</td><td class="r">Complemento:</td><td>GALPAO 2&nbsp;</td></tr>
<tr><td class="r">Bairro:</td><td colspan="3">CENTRO&nbsp;</td></tr>
<tr><td class="r">Município:</td><td>MANAUS&nbsp;</td><td class="r">UF:</td><td>AM&nbsp;</td></tr>
<tr><td class="r">CEP:</td><td>69010-001&nbsp;</td><td class="r">Telefone:</td><td>(92) 3622-1234&nbsp;</td></tr>
<tr><th colspan="4">Informações Complementares</th></tr>
<tr><td class="r">Situação Cadastral Vigente:</td><td colspan="3">HABILITADO&nbsp;</td></tr>
</table>
<p><small>Página de amostra do Quarvel: dados fictícios.</small></p>
</body>
</html>
